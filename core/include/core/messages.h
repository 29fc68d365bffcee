// The status texts of the start checks and of a run, exactly as the user sees them.
#pragma once

namespace vesmer::messages {

inline constexpr const char* kNoSource = "★比較元ファイルを指定してください";
inline constexpr const char* kNoDestination = "★比較先ファイルを指定してください";
inline constexpr const char* kSameFile = "★比較元と比較先に、同じファイルが指定されています";
inline constexpr const char* kNoKeyRange = "★比較のキーの領域が指定されていません";
inline constexpr const char* kNoOmitRange = "★比較から除外する領域が指定されていません";
inline constexpr const char* kBadKeyRange = "★比較のキーの領域の指定が正しくありません";
inline constexpr const char* kBadOmitRange = "★比較から除外する領域の指定が正しくありません";
inline constexpr const char* kRangesOverlap =
    "★比較のキーの領域と比較から除外する領域が重なっています";
inline constexpr const char* kKeyRangeOverLimit = "比較のキー領域の指定が、上限を超えています";
inline constexpr const char* kOmitRangeOverLimit =
    "比較から除外する領域の指定が、上限を超えています";

inline constexpr const char* kRunning = "☆処理中 - しばらくお待ちください";
inline constexpr const char* kCompleted = "☆処理が終了しました";
inline constexpr const char* kCompletedNoDifferences =
    "☆処理が終了しました。比較の結果、差異はありませんでした";
inline constexpr const char* kOutOfOrder =
    "★キーを指定する場合、ファイルは昇順に整列されている必要があります";
inline constexpr const char* kCannotOpen = "★ファイルを開けませんでした";
inline constexpr const char* kTempFolderFailed =
    "★整列の一時ファイルを作れませんでした（一時フォルダがないか、いっぱいです）";
inline constexpr const char* kReadWriteFailed = "★ファイルの読み書きに失敗しました";
inline constexpr const char* kInputChanged = "★比較の途中で入力ファイルが変更されました";
inline constexpr const char* kOutOfMemory = "★メモリが足りないため、処理を中止しました";
inline constexpr const char* kEditorNotFound =
    "☆指定したエディタが見つかりませんでしたので、既定のエディタで開きます";

// The six result files by kind, and the two inputs by side, as the summaries name them.
inline constexpr const char* kOutputNames[6] = {
    "比較元ファイル：キー不一致",
    "比較先ファイル：キー不一致",
    "比較元ファイル：キー一致・内容不一致",
    "比較先ファイル：キー一致・内容不一致",
    "キー・内容とも一致",
    "比較結果リスト",
};
inline constexpr const char* kSideNames[2] = {"比較元", "比較先"};

}  // namespace vesmer::messages
