#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace vesmer {

std::string ReasonText(int error_number) {
  switch (error_number) {
    case 0:
      return "";
    case ENOENT:
      return "ファイルまたはフォルダがありません";
    case EACCES:
    case EPERM:
      return "アクセスが許可されていません";
    case ENOSPC:
      return "ディスクの空き容量が足りません";
    case EDQUOT:
      return "ディスクの使用量の上限に達しました";
    case EFBIG:
      return "ファイルが大きすぎます";
    case EISDIR:
      return "フォルダです";
    case ENOTDIR:
      return "パスの途中がフォルダではありません";
    case EEXIST:
      return "同じ名前のファイルがすでにあります";
    case EROFS:
      return "読み取り専用のファイルシステムです";
    case EIO:
      return "入出力エラーが発生しました";
    case ENOMEM:
      return "メモリが足りません";
    case ELOOP:
      return "シンボリックリンクです";
    case EWOULDBLOCK:
      return "ほかの処理が使用中です";
    case ENAMETOOLONG:
      return "パスが長すぎます";
    case EMFILE:
    case ENFILE:
      return "開いているファイルが多すぎます";
    case EXDEV:
      return "別のファイルシステムにあります";
    case EINTR:
      return "中断されました";
    case EINVAL:
      return "この操作はできません";
    case ESTALE:
      return "ファイルが変更されたか、置き換えられました";
    default:
      break;
  }
  char buffer[256];
  // The GNU strerror_r returns the text, possibly not in `buffer`.
  const char* text = ::strerror_r(error_number, buffer, sizeof buffer);
  return text != nullptr ? std::string(text)
                         : std::string("エラー ") + std::to_string(error_number);
}

std::string Status::reason() const { return reason_.empty() ? ReasonText(errno_) : reason_; }

}  // namespace vesmer
