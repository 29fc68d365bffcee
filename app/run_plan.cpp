#include "app/run_plan.h"

#include <algorithm>
#include <utility>

#include "core/result_names.h"
#include "formats/code_page.h"
#include "list_sinks.h"
#include "platform/cp932.h"

namespace vesmer {

RunRequest RunRequestFromSettings(const SettingsStore& values) {
  RunRequest request;
  request.inputs = values.InputData;
  for (std::size_t i = 0; i < 2; ++i) request.utf8[i] = IsOn(values.Utf8[i]);
  request.use_key = IsOn(values.Key);
  request.key_text = values.KeyRange;
  request.use_omit = IsOn(values.Omit);
  request.omit_text = values.OmitRange;
  for (std::size_t k = 0; k < kOutputKinds && k < values.OutputData.size(); ++k) {
    request.outputs.values[k] = values.OutputData[k] == '1';
  }
  request.space_compare = IsOn(values.SpaceCompare);
  request.arrange_length = IsOn(values.ArrangeLength);
  request.scale = values.Scale;
  return request;
}

namespace {

// Whether the code page writes line ends, quotes and the usual delimiters as ASCII does.
bool KeepsAsciiControls(CodePage& code_page) {
  static constexpr std::string_view kBytes = "\n\r\",;|\t";
  DecodedText text;
  if (code_page.Decode(kBytes, text) != 0) return false;
  return text.text() == u"\n\r\",;|\t";
}

// Why the inputs' formats cannot run as asked, if they cannot.
std::optional<PlanRefusal> CheckFormats(const RunRequest& r, const Layout* layout) {
  for (std::size_t i = 0; i < 2; ++i) {
    const RecordFormat& format = r.formats[i];
    const std::string side = i == 0 ? "比較元" : "比較先";
    if ((format.framing == Framing::kCsv) != (r.formats[1 - i].framing == Framing::kCsv)) {
      return PlanRefusal{"★CSV と CSV でない形式のレコードは、まだ比較できません"};
    }
    if (format.framing == Framing::kCsv && r.layout) {
      return PlanRefusal{"★CSV の入力には、まだ --layout を使えません（見出しが項目の名前です）"};
    }
    if (format.framing == Framing::kLf || format.framing == Framing::kCsv) {
      // These framings find LF, quotes and delimiters as ASCII bytes: an EBCDIC file holds them
      // as other bytes, and its records would be cut in the wrong places.
      std::string message;
      const std::unique_ptr<CodePage> code_page = CodePage::Open(format.code_page, message);
      if (code_page != nullptr && !KeepsAsciiControls(*code_page)) {
        return PlanRefusal{"★" + side + "のコードページ「" + format.code_page + "」では、" +
                           (format.framing == Framing::kLf ? "lf" : "csv") +
                           " の区切りを読めません（fixed=N か rdw を指定してください）"};
      }
    }
    if (r.utf8[i] && !format.IsDefault()) {
      return PlanRefusal{"★" + side + "の UTF-8 からの変換は、形式を指定した入力にはできません"};
    }
    if (format.framing == Framing::kFixed && layout != nullptr) {
      for (const Field& f : layout->fields) {
        const auto end = static_cast<std::size_t>(f.start) + static_cast<std::size_t>(f.length) - 1;
        if (f.length > 0 && end > format.record_length) {
          return PlanRefusal{"★レイアウトの項目「" + f.name + "」（" + std::to_string(f.start) +
                             "-" + std::to_string(end) + " 桁）が" + side + "のレコード長 " +
                             std::to_string(format.record_length) + " バイトを越えています"};
        }
      }
    }
  }
  return std::nullopt;
}

}  // namespace

// A CSV run: the header names the fields, which keys and omissions name (or number); each
// side's records are split into fields and decoded.
bool RunPlan::PrepareCsv(RunRequest& r, std::string& problem) {
  std::array<std::vector<std::string>, 2> names;
  std::array<std::size_t, 2> expected{};
  for (std::size_t i = 0; i < 2; ++i) {
    if (!r.formats[i].header) continue;
    if (!ReadCsvHeader(r.inputs[i], r.formats[i], names[i], problem)) return false;
    expected[i] = names[i].size();
  }
  if (r.formats[0].header && r.formats[1].header && names[0] != names[1]) {
    problem =
        "★比較元と比較先の CSV の見出しが異なります（列の名前と順序が同じ CSV を比較できます）";
    return false;
  }
  csv_names_ = r.formats[0].header ? names[0] : names[1];
  // Columns are the fields' numbers: a field named is the range of its number, for keys,
  // omissions and rules alike.
  Layout& columns = csv_layout_.emplace();
  for (std::size_t f = 0; f < csv_names_.size(); ++f) {
    columns.fields.push_back(Field{csv_names_[f], static_cast<std::int32_t>(f + 1), 1, 'X', 0});
  }
  const auto to_ranges = [&](const std::string& given, std::string& range_text) {
    std::string text;
    std::size_t from = 0;
    while (from <= given.size()) {
      const std::size_t comma = std::min(given.find(',', from), given.size());
      const std::string word = given.substr(from, comma - from);
      from = comma + 1;
      const bool number = !word.empty() && word.size() <= 6 &&
                          word.find_first_not_of("0123456789") == std::string::npos &&
                          std::stoul(word) >= 1;
      const bool named = std::any_of(csv_names_.begin(), csv_names_.end(),
                                     [&](const std::string& n) { return n == word; });
      std::string piece;
      if (number && !named) {
        piece = word + "-" + word;
      } else if (!FieldNamesToRangeText(columns, word, piece, problem)) {
        return false;
      }
      if (!text.empty()) text += ',';
      text += piece;
    }
    range_text = text;
    return true;
  };
  if (r.key_fields) {
    if (!to_ranges(*r.key_fields, r.key_text)) return false;
    r.use_key = true;
  }
  if (r.omit_fields) {
    if (!to_ranges(*r.omit_fields, r.omit_text)) return false;
    r.use_omit = true;
  }
  for (std::size_t i = 0; i < 2; ++i) {
    codings_[i] = CsvCoding::Open(r.formats[i], expected[i], problem);
    if (codings_[i] == nullptr) return false;
  }
  return true;
}

// Records of another code page on either side, or CSV: both are decoded and compared as
// texts. False with `problem` when they cannot be.
bool RunPlan::PrepareCodings(RunRequest& r, std::string& problem) {
  codings_ = {};
  csv_names_.clear();
  csv_layout_.reset();
  const bool csv = r.formats[0].framing == Framing::kCsv;
  if (csv || r.field_list || r.formats[0].code_page != RecordFormat::kDefaultCodePage ||
      r.formats[1].code_page != RecordFormat::kDefaultCodePage) {
    if (csv && !PrepareCsv(r, problem)) return false;
    for (std::size_t i = 0; i < 2 && !csv; ++i) {
      codings_[i] = CodePageCoding::Open(r.formats[i].code_page, problem);
      if (codings_[i] == nullptr) return false;
    }
    // Texts of two code pages are other bytes for the same text, CSV fields are no bytes of
    // their own, and a pair of one code page that differed in its bytes only would be listed
    // with two equal texts: bytes never decide between texts.
    if (r.compare_bytes) {
      problem =
          "★--compare-bytes は、テキストとして比べるレコード（cp932 でないコードページ、CSV、"
          "--list fields）にはまだ使えません";
      return false;
    }
  }
  return true;
}

const std::vector<Field>& RunPlan::fields() const {
  static const std::vector<Field> kNone;
  if (layout_) return layout_->fields;
  if (csv_layout_) return csv_layout_->fields;
  return kNone;
}

RunPlan::RunPlan() = default;
RunPlan::~RunPlan() = default;

std::optional<PlanRefusal> RunPlan::Prepare(RunRequest request, RangeTextListener* listener) {
  request_ = std::move(request);
  RunRequest& r = request_;
  std::string problem;
  const auto refused = [&] { return PlanRefusal{std::move(problem), StartItem::kNone}; };
  if (r.layout) {
    Layout layout;
    if (Status s = LoadLayout(*r.layout, layout, problem); !s.ok()) return refused();
    // Fields by name give ranges as if they had been typed, through the same start checks.
    if (r.key_fields) {
      if (r.key_given) {
        problem = "★--key と --key-fields は、どちらか一方だけを指定してください";
        return refused();
      }
      if (!FieldNamesToRangeText(layout, *r.key_fields, r.key_text, problem)) return refused();
      r.use_key = true;
    }
    if (r.omit_fields) {
      if (r.omit_given) {
        problem = "★--omit と --omit-fields は、どちらか一方だけを指定してください";
        return refused();
      }
      if (!FieldNamesToRangeText(layout, *r.omit_fields, r.omit_text, problem)) return refused();
      r.use_omit = true;
    }
    layout_ = std::move(layout);
  }
  if (std::optional<PlanRefusal> refusal = CheckFormats(r, layout())) return refusal;
  if (!PrepareCodings(r, problem)) return refused();
  if (r.rules) {
    RuleSet rules;
    // A CSV file's rules name its fields by the header, or give their numbers as ranges.
    const Layout* names = csv_layout_ ? &*csv_layout_ : layout();
    if (Status s = LoadRules(*r.rules, names, rules, problem); !s.ok()) return refused();
    rules_ = std::move(rules);
  }

  StartRequest start;
  start.source = r.inputs[0];
  start.destination = r.inputs[1];
  start.use_key = r.use_key;
  start.use_omit = r.use_omit;
  start.key_text = r.key_text;
  start.omit_text = r.omit_text;
  RangeList key, omit;
  const StartCheckResult check = RunStartChecks(start, key, omit, listener);
  if (!check.passed) return PlanRefusal{check.message, check.failed};
  if (r.use_key) {
    // A key column past a fixed-length record's end would cut every key of that input: its
    // records would pair by their order, not by their keys.
    for (std::size_t i = 0; i < 2; ++i) {
      const RecordFormat& format = r.formats[i];
      if (format.framing != Framing::kFixed) continue;
      for (std::size_t k = 0, used = key.UsedPrefix(); k < used; ++k) {
        if (static_cast<std::uint64_t>(key[k].End) <= format.record_length) continue;
        return PlanRefusal{"★キーの領域 " + std::to_string(key[k].Start) + "-" +
                               std::to_string(key[k].End) + " 桁が" +
                               (i == 0 ? "比較元" : "比較先") + "のレコード長 " +
                               std::to_string(format.record_length) + " バイトを越えています",
                           StartItem::kKeyRange};
      }
    }
  }
  r.key_text = start.key_text;
  r.omit_text = start.omit_text;

  job_ = {};
  job_.InputData = r.inputs;
  job_.Utf8 = r.utf8;
  job_.OutputSelected = r.outputs;
  job_.UseKey = r.use_key;
  job_.OutputSelected[OutputKind::kSourceUnmatched] = job_.UseKey;
  job_.OutputSelected[OutputKind::kDestinationUnmatched] = job_.UseKey;
  job_.ResultPath = MakeResultPaths(r.inputs[0]);
  job_.KeyColumns = key;
  job_.UseOmit = r.use_omit;
  job_.OmitColumns = omit;
  job_.SpaceCompare = r.space_compare;
  job_.ArrangeLength = r.arrange_length;
  job_.CompareBytes = r.compare_bytes;
  // Padding is how a format stores a text, not the text: two formats pad the same text alike
  // only by chance.
  job_.TrimPadding = !(r.formats[0] == r.formats[1]) && !r.keep_padding;
  job_.Scale = r.scale;
  if (layout_) {
    for (const Field& f : layout_->fields) job_.ListFields.push_back({f.name, f.start, f.length});
  }
  for (std::size_t f = 0; f < csv_names_.size(); ++f) {
    job_.ListFields.push_back({csv_names_[f], static_cast<std::int32_t>(f + 1), 1});
  }
  if (r.sort && !job_.UseKey) {
    return PlanRefusal{"★--sort は、キーで比較するとき（--key）に指定してください"};
  }
  return std::nullopt;
}

RunSummary RunPlan::Run(RunObserver& observer, const std::atomic<bool>* interrupt) {
  const RunRequest& r = request_;
  RunExtensions extensions;
  extensions.interrupt = interrupt;
  // The run checks that none of its outputs is a file it reads, before it touches any.
  if (r.layout) extensions.reads.push_back({*r.layout, "レイアウト"});
  if (r.rules) extensions.reads.push_back({*r.rules, "規則"});
  if (r.settings_file) extensions.reads.push_back({*r.settings_file, "設定"});
  extensions.later_outputs = r.later_outputs;

  // Statistics cost only on pairs that differ.
  if (r.statistics) {
    std::vector<FieldSpan> fields;
    for (const Field& f : this->fields()) fields.push_back(FieldSpan{f.start, f.length});
    stats_.emplace(std::move(fields), r.counted_columns, r.kept_pairs);
  }
  if (rules_) {
    judge_.emplace(*rules_);
    extensions.judge = &*judge_;
  }
  if (r.hashes) {
    for (std::size_t i = 0; i < 2; ++i) {
      hashes_[i] = std::make_unique<Sha256>();
      original_hashes_[i] = std::make_unique<Sha256>();
      extensions.input_observers[i] = hashes_[i].get();
      extensions.original_observers[i] = original_hashes_[i].get();
    }
  }
  if (r.duplicates) {
    extensions.outputs.push_back({*r.duplicates, &duplicates_file_, "キー重複の一覧"});
    duplicates_ = std::make_unique<DuplicatesSink>(duplicates_file_);
    extensions.sinks.push_back(duplicates_.get());
  }
  if (r.expected) {
    extensions.outputs.push_back({*r.expected, &expected_file_, "許容された差異の一覧"});
    expected_ =
        std::make_unique<ExpectedListSink>(expected_file_, cp932::FromUtf8(job_.Scale), job_);
    extensions.sinks.push_back(expected_.get());
  }
  if (stats_) extensions.sinks.push_back(&*stats_);
  if (r.sort) extensions.sort = &sort_.emplace(*r.sort);
  for (std::size_t i = 0; i < 2; ++i) extensions.codings[i] = codings_[i].get();
  for (std::size_t i = 0; i < 2; ++i) {
    framings_[i].reset();
    if (r.formats[i].framing != Framing::kLines) {
      extensions.framings[i] = &framings_[i].emplace(r.formats[i]);
    }
  }
  return RunComparison(job_, observer, extensions);
}

}  // namespace vesmer
