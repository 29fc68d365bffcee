#include "cli/batch_options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "cli/terminal_text.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

// The columns of a terminal the help is written for.
constexpr std::size_t kHelpWidth = 80;

// `head` followed, from `column` on, by `text` wrapped to the help's width; the head takes a
// line of its own when it reaches the column.
std::string Hanging(const std::string& head, std::size_t column, std::string_view text) {
  std::string out = head;
  const std::size_t width = DisplayWidth(head);
  if (width >= column) {
    out += "\n" + std::string(column, ' ');
  } else {
    out.append(column - width, ' ');
  }
  bool first = true;
  for (const std::string& line : WrapText(text, kHelpWidth - column)) {
    if (!first) out += "\n" + std::string(column, ' ');
    out += line;
    first = false;
  }
  return out + "\n";
}

// CLI11's layout, with the columns counted as a terminal shows Japanese text and long
// descriptions wrapped to the help's width.
class JapaneseFormatter : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* opt, bool is_positional) const override {
    return Hanging("  " + make_option_name(opt, is_positional) + make_option_opts(opt),
                   get_column_width(), make_option_desc(opt));
  }
  std::string make_usage(const CLI::App* /*app*/, std::string name) const override {
    return get_label("Usage") + ": " + name + " [" + get_label("OPTIONS") + "] 比較元 比較先\n";
  }
  std::string make_description(const CLI::App* app) const override {
    std::string out;
    for (const std::string& line : WrapText(app->get_description(), kHelpWidth)) {
      out += line + "\n";
    }
    return out;
  }
};

constexpr const char* kDescription =
    "Shift-JIS（コードページ 932）のレコードファイル二つを、行ごとに、またはキーで比較し、"
    "差異を比較元ファイルと同じフォルダの結果ファイル（比較元名_0.TXT ～ _5.TXT）に書き出します。";

// The rules of a --rules file, as the rules engine applies them.
constexpr std::pair<const char*, const char*> kRuleHelp[] = {
    {"無視", "その項目のどんな差異も許容する"},
    {"全半角",
     "全角と半角の英数字・記号、全角と半角のスペース、￥ と \\、全角と半角のカタカナ"
     "（ｶﾞ と ガ なども）を同じと見なす"},
    {"かなカナ", "ひらがなとカタカナを同じと見なす"},
    {"前後空白", "前後の半角・全角スペースを除いて比べる"},
    {"数値,許容差",
     "両方を数値として読み、差が許容差以内なら許容する。許容差は 0 以上の小数で、省くと 0"
     "（例: 金額,数値,0.01）。数値は半角の数字と小数点で、前後のスペースは除き、符号 + - は前にも"
     "後ろにも付けられる。桁区切りのカンマがあると数値と見なさない。全角の数字は、前に 全半角 "
     "を書けば数値として読む"},
};

constexpr const char* kExamples =
    "例:\n"
    "  # 1～4 桁目をキーにして比較する\n"
    "  vesmer-batch -k 1-4 old/SHAIN.TXT new/SHAIN.TXT\n"
    "  # レイアウトの項目名でキーを指定し、証跡の報告書も書く\n"
    "  vesmer-batch --layout shain.csv --key-fields 社員番号 --report shain.html \\\n"
    "    old/SHAIN.TXT new/SHAIN.TXT\n"
    "  # キーの順に並んでいない両ファイルを、整列してから比較する\n"
    "  vesmer-batch -k 1-4 --sort old/SHAIN.TXT new/SHAIN.TXT\n"
    "  # 二つのフォルダの同じ名前のファイルをすべて、2 組ずつ並行して比較する\n"
    "  vesmer-batch --folders old new --output-dir out --jobs 2 -k 1-4\n";

constexpr std::pair<const char*, const char*> kExitCodes[] = {
    {"0", "差異なし（規則で許容された差異だけのときも）"},
    {"1", "差異あり（ジョブでは片方にしかないファイルも）"},
    {"2", "開始できない・失敗・キーの順序誤り・使い方の誤り"},
    {"130 / 143", "割り込み（SIGINT / SIGTERM）で中止"},
};

std::string Footer() {
  std::string out = "--rules の規則:\n";
  out +=
      Hanging("", 2,
              "規則ファイルには 1 行に 1 規則を 項目名,規則[,値] と書く。項目名はレイアウトの項目名"
              "か、開始-終了 の桁の範囲。一つの項目に書いた規則は書いた順に重ねて当てはめ、途中で"
              "一致すれば許容する");
  for (const auto& [name, text] : kRuleHelp) out += Hanging("  " + std::string(name), 16, text);
  out += std::string("\n") + kExamples + "\n終了コード:\n";
  for (const auto& [code, text] : kExitCodes) out += Hanging("  " + std::string(code), 13, text);
  out.pop_back();  // CLI11 ends the footer itself
  return out;
}

// Numbers taken as text and converted here, so that every message about them is our own.
struct NumberTexts {
  std::optional<std::string> report_pairs, sort_memory, jobs;
};

void Define(CLI::App& app, BatchOptions& o, NumberTexts& numbers) {
  app.description(kDescription);
  app.footer(Footer());
  app.formatter(std::make_shared<JapaneseFormatter>());
  app.get_formatter()->column_width(27);
  app.get_formatter()->label("Usage", "使い方");
  app.get_formatter()->label("OPTIONS", "オプション");
  app.get_formatter()->label("Options", "オプション");
  app.get_formatter()->label("Positionals", "ファイル");
  app.option_defaults()->group("オプション");
  app.set_help_flag("-h,--help", "この説明を表示する")->group("オプション");

  // The two paths are named in the usage line.
  app.add_option("paths", o.paths, "比較元ファイルと比較先ファイル")->group("");
  app.add_option("-k,--key", o.key,
                 "キーで比較する。開始桁-終了桁 をカンマで区切って 20 個まで"
                 "（例: 1-5,12-20）。両ファイルはキーの昇順に整列されていること")
      ->option_text("領域");
  app.add_option("-x,--omit", o.omit, "比較から除外する桁の領域")->option_text("領域");
  app.add_option("-o,--outputs", o.outputs,
                 "出力する結果ファイルを 2～5 で指定（既定: 2345）\n"
                 "2 比較元：キー一致・内容不一致\n"
                 "3 比較先：キー一致・内容不一致\n"
                 "4 キー・内容とも一致\n"
                 "5 比較結果リスト\n"
                 "0 と 1（キー不一致）は --key を指定したときに必ず出力されます")
      ->option_text("種類");
  app.add_flag("--utf8-source", o.utf8_source,
               "比較元は UTF-8。比較の前に Shift-JIS に変換し、元のファイルは"
               "比較元名_UTF8.TXT として残します");
  app.add_flag("--utf8-destination", o.utf8_destination, "比較先は UTF-8（同上）");
  app.add_flag("-s,--space-compare", o.space_compare,
               "全角スペース１個と半角スペース２個は一致と見なす");
  app.add_flag("-a,--arrange-length", o.arrange_length, "レコード長が異なるとき、短い方にあわせる");
  app.add_flag("--compare-bytes", o.compare_bytes,
               "レコードの内容を文字ではなくバイトで比較する。文字としては同じでもバイトが"
               "異なる組（NEC 選定 IBM 拡張文字と IBM 拡張文字など）を差異とする。"
               "-x、-s、-a はバイトに当てはめる。キーは文字で比較");
  app.add_option("--scale", o.scale, "比較結果リストのスケール（既定: ....+....*....+ ...）")
      ->option_text("文字列");
  app.add_option("--settings", o.settings,
                 "ウィンドウが保存した設定ファイル（.ini）から、比較の設定と、"
                 "指定がなければ比較元・比較先を読む。コマンドラインの指定が優先")
      ->option_text("ファイル");
  app.add_option(
         "--layout", o.layout,
         "レコードレイアウトのファイル。1 行に 1 項目を 名前,開始桁,桁数[,属性[,小数桁]] "
         "と書く（属性は X、9、N、P、B、BU）。COBOL "
         "の写し（コピー句）も読む。項目別の差異を数え、項目名でキーや除外を指定できるようにする。"
         "両方が CSV なら 名前,列番号[,属性] で列に名前を付ける（見出しより優先）。"
         "CSV と CSV でない入力の比較では CSV でない側のレイアウトで、項目を名前で"
         "CSV の列と対応させる")
      ->option_text("ファイル");
  app.add_flag("--print-layout", o.print_layout,
               "--layout のファイル（COBOL の写しも読む）から作ったレイアウトを、レイアウト"
               "ファイルの形（名前,開始桁,桁数,属性,小数桁）で表示する。比較はしない");
  app.add_option("--csv-layout", o.csv_layout,
                 "CSV の列の名前のファイル。1 行に 1 列を 名前,列番号[,属性] と書く。"
                 "CSV と CSV でない入力の比較で、見出しのない CSV の列に名前を付ける")
      ->option_text("ファイル");
  app.add_option("--source-layout", o.source_layout,
                 "比較元だけのレイアウト（--layout と同じ形。COBOL の写しも読む。比較元が CSV なら"
                 "列のレイアウト）。比較先と項目の名前で対応させ、位置、長さ、型が違っても値で"
                 "比較する。片方にしかない項目は比較せずに報告する")
      ->option_text("ファイル");
  app.add_option("--destination-layout", o.destination_layout,
                 "比較先だけのレイアウト（--source-layout を参照）")
      ->option_text("ファイル");
  app.add_option("--field-map", o.field_map,
                 "名前の変わった項目の対応のファイル。1 行に 旧名,新名 と書く（--source-layout "
                 "か --destination-layout と一緒に）")
      ->option_text("ファイル");
  app.add_option("--key-fields", o.key_fields,
                 "キーにする項目の名前をカンマで区切って指定（--layout か --source-layout、"
                 "--destination-layout が必要。CSV では見出しかレイアウトの名前か列の番号）")
      ->option_text("項目名");
  app.add_option("--omit-fields", o.omit_fields,
                 "比較から除外する項目の名前（--key-fields と同じくレイアウトが必要）")
      ->option_text("項目名");
  app.add_option("--report", o.report,
                 "証跡の報告書を HTML で書く（入力の SHA-256、設定、件数、項目別・桁別の差異、"
                 "差異の明細）")
      ->option_text("ファイル");
  app.add_option("--report-pairs", numbers.report_pairs,
                 "報告書に載せる差異の明細の件数（既定: 1000）")
      ->option_text("件数");
  app.add_option("--summary-csv", o.summary_csv, "報告書の数値を CSV（UTF-8、BOM 付き）で書く")
      ->option_text("ファイル");
  app.add_flag("--sort", o.sort,
               "比較の前に両ファイルをキーの順に整列する（--key が必要。元のファイルは"
               "変更しない）");
  app.add_option("--sort-memory", numbers.sort_memory, "整列に使うメモリの上限（MiB、既定: 256）")
      ->option_text("MiB");
  app.add_option("--temp-dir", o.temp_dir,
                 "整列の一時ファイルを置くフォルダ（既定: $TMPDIR、なければ /tmp）")
      ->option_text("フォルダ");
  app.add_option("--duplicates", o.duplicates,
                 "直前のレコードとキーが同じレコードを書き出す（比較元か比較先か、行番号、"
                 "レコードをタブで区切る）")
      ->option_text("ファイル");
  app.add_option("--rules", o.rules,
                 "許容する差異の規則のファイル。規則は 無視, 全半角, かなカナ, 前後空白, 数値"
                 "（下の「--rules の規則」を参照）")
      ->option_text("ファイル");
  app.add_option("--expected", o.expected, "規則で許容された差異を比較結果リストの形で書く")
      ->option_text("ファイル");
  app.add_option("--format", o.format,
                 "両ファイルのレコードの形式。枠組み lines（CR か CR LF で終わる行、既定）、"
                 "lf（LF か CR LF で終わる行）、fixed=N（N バイトの固定長）、rdw（レコード記述語の"
                 "後の可変長）と、コードページ cp932（既定）をカンマで区切る（例: fixed=200）")
      ->option_text("形式");
  app.add_option("--source-format", o.source_format, "比較元の形式（--format より優先）")
      ->option_text("形式");
  app.add_option("--destination-format", o.destination_format, "比較先の形式（--format より優先）")
      ->option_text("形式");
  app.add_flag("--keep-padding", o.keep_padding,
               "形式の異なるファイルでも、レコードとキーの末尾の空白を比較する");
  app.add_option("--list", o.list,
                 "比較結果リストの形。ruler（既定: 桁ごとに ? で示す）か fields（項目ごとに"
                 "比較元と比較先の値を並べる）。cp932 以外のコードページと CSV では常に fields")
      ->option_text("形");
  app.add_option("--output-dir", o.output_dir,
                 "結果ファイルを比較元と同じフォルダではなく、このフォルダに書く。--pairs と "
                 "--folders では、各組の結果ファイル・報告書・JSON をこのフォルダの下の比較元の"
                 "相対パスに書き、一覧（index.html と summary.csv）もここに書く")
      ->option_text("フォルダ");
  app.add_option("--summary-xlsx", o.summary_xlsx,
                 "結果の一覧を Excel のブック（.xlsx）に書く（シート「一覧」と、差異のある組ごとに"
                 "最初の差異の明細を項目ごとに）")
      ->option_text("ファイル");
  app.add_option("--pairs", o.pairs,
                 "比較する組の一覧のファイル。1 行に 1 組を 比較元,比較先[,プロファイル名] と書く"
                 "（UTF-8 か cp932、# で始まる行は注釈、相対パスは一覧のフォルダから）")
      ->option_text("ファイル");
  app.add_option("--folders", o.folders,
                 "比較元フォルダの下のすべてのファイルを、比較先フォルダの同じ相対パスのファイルと"
                 "比較する。片方にしかないファイルは差異とする")
      ->expected(2)
      ->option_text("旧 新");
  app.add_option("--include", o.include,
                 "--folders で比較するファイルを glob で選ぶ（何回でも指定できる。/ を含まない"
                 "パターンはファイル名に、含むパターンは相対パスに当てはめる）")
      ->option_text("パターン");
  app.add_option("--exclude", o.exclude, "--folders で比較しないファイルを glob で指定する")
      ->option_text("パターン");
  app.add_option("--profiles", o.profiles,
                 "組ごとの設定のファイル。[名前] の節に、その種類のファイルのオプションを"
                 "コマンドラインと同じように書く。一覧のプロファイル名か、比較元の相対パスに合う "
                 "[SHAIN*.DAT] のような glob の節で選ぶ。コマンドラインのオプションは既定値")
      ->option_text("ファイル");
  app.add_option("--jobs", numbers.jobs, "同時に比較する組の数（既定: プロセッサの数）")
      ->option_text("数");
  app.add_option("--rollup", o.rollup,
                 "ほかで比較した組の JSON（フォルダの下の *_summary.json）から一覧"
                 "（index.html、summary.csv、--summary-xlsx）を作る")
      ->expected(1, CLI::detail::expected_max_vector_size)
      ->option_text("フォルダ...");
  app.add_flag("--json", o.json, "結果の要約を JSON で標準出力に書く");
  app.add_flag("-q,--quiet", o.quiet, "進行状況を表示しない");
  app.add_flag("--version", o.version, "バージョンを表示する");
}

// The name of the option a CLI11 message is about ("--key: 1 required ..." gives "--key").
std::string OptionOf(const std::string& what) {
  const std::size_t colon = what.find(':');
  return colon == std::string::npos ? what : what.substr(0, colon);
}

// The name a message gives an option: its long name where it has one.
std::string NameOf(const CLI::Option& option) {
  if (!option.get_lnames().empty()) return "--" + option.get_lnames().front();
  return option.get_snames().empty() ? option.get_name() : "-" + option.get_snames().front();
}

bool IsFlag(const CLI::Option& option) { return option.get_expected_max() == 0; }

// A flag written with a value ("--json=yes"): CLI11 would read the value as true or false.
// Arguments after "--" are file names.
std::string FlagGivenAValue(const CLI::App& app, const std::vector<std::string>& args) {
  for (const std::string& arg_text : args) {
    const std::string_view arg = arg_text;
    if (arg == "--") break;
    const std::size_t equals = arg.find('=');
    if (!arg.starts_with("--") || equals == std::string_view::npos) continue;
    const CLI::Option* option = app.get_option_no_throw(std::string(arg.substr(0, equals)));
    if (option != nullptr && IsFlag(*option)) {
      return NameOf(*option) + " には値を指定できません: " + ShownText(arg);
    }
  }
  return {};
}

// Edits (insert, delete, replace, swap two neighbours) that turn `a` into `b`.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  // Three rows of the table: the one before last, the last and the one being filled.
  std::vector<std::size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) last[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t replace = last[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
    std::swap(before, last);
    std::swap(last, row);
  }
  return last[b.size()];
}

// The long option an unknown "--name" was most likely meant as, "" when none is close: a
// slip of a key or two, no more than a third of what was typed, so that a word that is no
// option at all gets no guess.
std::string NearestOption(const CLI::App& app, std::string_view unknown) {
  if (!unknown.starts_with("--")) return {};
  std::string typed(unknown.substr(2, unknown.find('=') - 2));
  for (char& c : typed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t limit = std::clamp<std::size_t>(typed.size() / 3, 1, 2);
  std::string nearest;
  std::size_t best = limit + 1;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      if (const std::size_t d = EditDistance(typed, name); d < best) {
        best = d;
        nearest = "--" + name;
      }
    }
  }
  return nearest;
}

enum class Number { kValid, kNotANumber, kTooLarge };

// Decimal digits, with a '-' in front for a negative number.
Number ParseNumber(const std::string& text, long long& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (stop != end || text.empty()) return Number::kNotANumber;
  if (error == std::errc::result_out_of_range) {
    if (text.front() != '-') return Number::kTooLarge;
    value = std::numeric_limits<long long>::min();
    return Number::kValid;
  }
  return error == std::errc() ? Number::kValid : Number::kNotANumber;
}

// The memory of this machine in MiB: a sort cannot hold more. 0 when the system does not say.
long long PhysicalMemoryMib() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<long long>(
      static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(page_size) >> 20);
}

std::string CheckReportPairs(const std::string& text, long long& pairs) {
  switch (ParseNumber(text, pairs)) {
    case Number::kNotANumber:
      return "--report-pairs には数値を指定してください: " + ShownText(text);
    case Number::kTooLarge:
      return "--report-pairs の値が大きすぎます: " + ShownText(text);
    case Number::kValid:
      break;
  }
  if (pairs < 0) return "--report-pairs には 0 以上の件数を指定してください: " + ShownText(text);
  return {};
}

std::string CheckSortMemory(const std::string& text, long long& mib) {
  const Number number = ParseNumber(text, mib);
  if (number == Number::kNotANumber) {
    return "--sort-memory には数値を指定してください: " + ShownText(text);
  }
  if (number == Number::kValid && mib < 1) {
    return "--sort-memory には 1 以上の MiB を指定してください: " + ShownText(text);
  }
  // Beyond what the machine has, the sort would not run out of room but the machine would.
  const long long physical = PhysicalMemoryMib();
  const long long limit = physical > 0 ? physical : (1LL << 30);
  if (number == Number::kTooLarge || mib > limit) {
    return "--sort-memory の値が大きすぎます: " + ShownText(text) + "（" +
           (physical > 0 ? "この機械のメモリは " + std::to_string(physical) + " MiB です。" : "") +
           "1～" + std::to_string(limit) + " の MiB を指定してください）";
  }
  return {};
}

// The options of a job (many pairs) and of a rollup, and what cannot go with them.
std::string CheckJob(BatchOptions& o, const NumberTexts& numbers) {
  const bool rollup = !o.rollup.empty();
  if ((o.pairs ? 1 : 0) + (o.folders.empty() ? 0 : 1) + (rollup ? 1 : 0) > 1) {
    return "--pairs、--folders、--rollup は、どれか一つだけを指定してください";
  }
  if (numbers.jobs) {
    const Number number = ParseNumber(*numbers.jobs, o.jobs);
    if (number != Number::kValid || o.jobs < 1 || o.jobs > 1024) {
      return "--jobs には 1～1024 の数を指定してください: " + ShownText(*numbers.jobs);
    }
  }
  if (!o.IsJob()) {
    if (numbers.jobs) return "--jobs は --pairs か --folders と一緒に指定してください";
    if (o.profiles) return "--profiles は --pairs か --folders と一緒に指定してください";
  }
  if ((!o.include.empty() || !o.exclude.empty()) && o.folders.empty()) {
    return "--include と --exclude は --folders と一緒に指定してください";
  }
  if (!o.IsJob() && !rollup) return {};
  if (!o.paths.empty()) {
    return "--pairs、--folders、--rollup では比較元と比較先を指定しません: " +
           ShownText(o.paths[0]);
  }
  if (rollup) return {};
  if (!o.output_dir) return "--pairs と --folders には --output-dir が必要です";
  // Each pair writes these of its own into the output folder; a name given once would be
  // written by every pair.
  const struct {
    bool given;
    const char* name;
  } per_pair[] = {{o.report.has_value(), "--report"},
                  {o.summary_csv.has_value(), "--summary-csv"},
                  {o.duplicates.has_value(), "--duplicates"},
                  {o.expected.has_value(), "--expected"}};
  for (const auto& option : per_pair) {
    if (option.given) {
      return std::string(option.name) +
             " は --pairs や --folders と一緒には使えません（各組の報告書と要約は --output-dir "
             "の下に書きます）";
    }
  }
  // The conversion renames the input and writes beside it.
  if (o.utf8_source || o.utf8_destination) {
    return std::string(o.utf8_source ? "--utf8-source" : "--utf8-destination") +
           " は --pairs や --folders と一緒には使えません（UTF-8 の入力は --format "
           "lines,utf-8 のように形式で指定してください）";
  }
  return {};
}

}  // namespace

std::string BatchHelp() {
  BatchOptions o;
  NumberTexts numbers;
  CLI::App app{"", "vesmer-batch"};
  Define(app, o, numbers);
  return app.help();
}

std::string ParseBatchOptions(int argc, const char* const* argv, BatchOptions& o) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return ParseBatchOptionsOver(args, o);
}

std::string ParseBatchOptionsOver(const std::vector<std::string>& args, BatchOptions& o) {
  CLI::App app{"", "vesmer-batch"};
  NumberTexts numbers;
  Define(app, o, numbers);
  app.allow_extras();
  // Options of several values collect them all.
  const auto listed = [](const CLI::Option& option) {
    return option.get_expected_max() > 1 || option.get_name() == "--include" ||
           option.get_name() == "--exclude";
  };
  // An option given twice is counted after parsing, rather than left to CLI11's own message.
  for (CLI::Option* option : app.get_options()) {
    if (!option->get_positional() && !IsFlag(*option) && !listed(*option)) {
      option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
  }
  if (std::string problem = FlagGivenAValue(app, args); !problem.empty()) return problem;
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    o.help = true;
    return {};
  } catch (const CLI::ArgumentMismatch& e) {
    return OptionOf(e.what()) + " には値を指定してください";
  } catch (const CLI::ParseError&) {
    return "引数を解釈できません";
  }
  for (const std::string& extra : app.remaining()) {
    if (!extra.empty() && extra[0] == '-' && extra != "-") {
      const std::string nearest = NearestOption(app, extra);
      return "不明なオプションです: " + ShownText(extra) +
             (nearest.empty() ? "" : "（もしかして " + nearest + "？）");
    }
    return "比較元と比較先のほかに余分な引数があります: " + ShownText(extra);
  }
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_name() == "--folders" && option->count() > 2) {
      return "--folders が 2 回指定されています（1 回だけ指定してください）";
    }
    if (!option->get_positional() && !IsFlag(*option) && !listed(*option) && option->count() > 1) {
      return NameOf(*option) + " が " + std::to_string(option->count()) +
             " 回指定されています（1 回だけ指定してください）";
    }
  }
  if (o.paths.size() > 2) {
    return "ファイルが多すぎます（比較元と比較先の 2 つだけを指定してください）: 3 つ目は " +
           ShownText(o.paths[2]);
  }
  if (o.help || o.version) return {};
  if (o.print_layout) {
    if (!o.layout) return "--print-layout には --layout が必要です";
    if (o.IsJob() || !o.rollup.empty()) {
      return "--print-layout は --pairs、--folders、--rollup と一緒には指定できません";
    }
    return {};  // nothing is compared: the other options do not matter
  }
  if (o.outputs) {
    for (const char c : *o.outputs) {
      if (c < '2' || c > '5') {
        return "--outputs には 2～5 の数字を指定してください: " + ShownText(*o.outputs);
      }
    }
  }
  if (numbers.report_pairs) {
    if (std::string problem = CheckReportPairs(*numbers.report_pairs, o.report_pairs);
        !problem.empty()) {
      return problem;
    }
  }
  if (numbers.sort_memory) {
    if (std::string problem = CheckSortMemory(*numbers.sort_memory, o.sort_memory_mib);
        !problem.empty()) {
      return problem;
    }
    if (!o.sort) return "--sort-memory は --sort と一緒に指定してください";
  }
  if (o.expected && !o.rules) return "--expected には --rules が必要です";
  const struct {
    const std::optional<std::string>& text;
    const char* name;
    std::array<bool, 2> sides;
  } formats[] = {{o.format, "--format", {true, true}},
                 {o.source_format, "--source-format", {true, false}},
                 {o.destination_format, "--destination-format", {false, true}}};
  for (const auto& f : formats) {  // the side's own option last: it wins
    if (!f.text) continue;
    RecordFormat format;
    std::string message;
    if (!ParseRecordFormat(*f.text, format, message)) return std::string(f.name) + ": " + message;
    for (std::size_t i = 0; i < 2; ++i) {
      if (f.sides[i]) o.formats[i] = format;
    }
  }
  if (o.list && *o.list != "fields" && *o.list != "ruler") {
    return "--list には ruler か fields を指定してください: " + ShownText(*o.list);
  }
  const bool csv = o.formats[0].framing == Framing::kCsv || o.formats[1].framing == Framing::kCsv;
  const bool sides = o.source_layout || o.destination_layout;
  if (o.field_map && !sides) {
    return "--field-map には --source-layout か --destination-layout が必要です";
  }
  if ((o.key_fields || o.omit_fields) && !o.layout && !csv && !sides) {
    return "--key-fields と --omit-fields には --layout が必要です";
  }
  if (csv && (o.key || o.omit)) {
    return "-k と -x は CSV の入力には使えません（--key-fields と --omit-fields で列の名前か番号を"
           "指定してください）";
  }
  for (std::size_t i = 0; i < 2; ++i) {
    const bool utf8 = i == 0 ? o.utf8_source : o.utf8_destination;
    if (utf8 && !o.formats[i].IsDefault()) {
      return std::string(i == 0 ? "--utf8-source" : "--utf8-destination") +
             " は形式（--format など）を指定した入力には使えません";
    }
  }
  if (std::string problem = CheckJob(o, numbers); !problem.empty()) return problem;
  if (o.IsJob() || !o.rollup.empty()) return {};
  if (o.paths.size() != 2 && !(o.settings && o.paths.empty())) {
    return "比較元と比較先を指定してください";
  }
  return {};
}

}  // namespace vesmer
