// The main window's controls as one table: object name, kind, caption and place in twips. The
// window is built from it, and the layout test reads it.
#pragma once

#include <string_view>

namespace vesmer {

enum class ControlKind {
  kFrame,  // a rectangle behind controls; no name
  kButton,
  kCheckBox,  // on the grey band
  kLabel,
  kCountLabel,  // a light yellow label
  kPathLabel,   // a light yellow label of two lines showing a path
  kTextBox,
};

struct ControlSpec {
  std::string_view name;
  ControlKind kind;
  std::string_view caption;
  int left, top, width, height;  // twips
};

// In creation order: frames first, so every control lies over them. The count labels reach
// right up to their frame (825 twips, not 735): ten digits need the room. The fonts standing
// in for the Windows ones are a pixel or two taller, so three boxes are 3 to 5 pixels taller
// than on Windows and what lies below them moves down by as much (90 twips in all): the box
// behind Label7 (450, not 375), the range box (1260, not 1215), whose second hint would sit on
// its bottom line, and the display option's box (540, not 495), whose check box band would.
inline constexpr ControlSpec kMainWindowControls[] = {
    {"", ControlKind::kFrame, "", 240, 120, 10215, 1335},
    {"", ControlKind::kFrame, "", 240, 1560, 10215, 4335},
    {"", ControlKind::kFrame, "", 240, 6000, 10215, 1260},
    {"", ControlKind::kFrame, "", 240, 7365, 6495, 540},
    {"", ControlKind::kFrame, "", 240, 7890, 10215, 1095},
    {"", ControlKind::kFrame, "", 360, 1680, 3495, 450},

    {"cmdSelInput(0)", ControlKind::kButton, "比較元ファイル(&O)", 360, 240, 2295, 375},
    {"chkUtf8(0)", ControlKind::kCheckBox, "UTF-8(&U)", 2760, 360, 1095, 255},
    {"lblInputData(0)", ControlKind::kPathLabel, "", 3960, 240, 5535, 520},
    {"lblFileICount(0)", ControlKind::kCountLabel, "", 9600, 480, 825, 255},
    // The path buttons stand between the two rows, left to right: 3, 0, 1, 2, 4.
    {"cmdInputChange(3)", ControlKind::kButton, "▼", 7515, 640, 295, 220},
    {"cmdInputChange(0)", ControlKind::kButton, "▼▼", 7800, 640, 495, 220},
    {"cmdInputChange(1)", ControlKind::kButton, "▲▼", 8280, 640, 495, 220},
    {"cmdInputChange(2)", ControlKind::kButton, "▲▲", 8760, 640, 495, 220},
    {"cmdInputChange(4)", ControlKind::kButton, "▲", 9240, 640, 295, 220},
    {"cmdSelInput(1)", ControlKind::kButton, "比較先ファイル(&C)", 360, 840, 2295, 375},
    {"chkUtf8(1)", ControlKind::kCheckBox, "UTF-8(&R)", 2760, 960, 1095, 255},
    {"lblInputData(1)", ControlKind::kPathLabel, "", 3960, 840, 5535, 520},
    {"lblFileICount(1)", ControlKind::kCountLabel, "", 9600, 1080, 825, 255},

    {"Label7", ControlKind::kLabel, "出力ファイルを指定する", 360, 1785, 3495, 255},
    {"Label8", ControlKind::kLabel, "出力ファイルは、比較元ファイルと同じフォルダに作成されます",
     3960, 1785, 6255, 255},
    {"chkOutput(0)", ControlKind::kCheckBox, "比較元ファイル：キー不一致(&1)", 360, 2220, 3495,
     255},
    {"lblOutputData(0)", ControlKind::kPathLabel, "", 3960, 2160, 5535, 520},
    {"lblFileOCount(0)", ControlKind::kCountLabel, "", 9600, 2160, 825, 255},
    {"chkOutput(1)", ControlKind::kCheckBox, "比較先ファイル：キー不一致(&2)", 360, 2760, 3495,
     255},
    {"lblOutputData(1)", ControlKind::kPathLabel, "", 3960, 2760, 5535, 520},
    {"lblFileOCount(1)", ControlKind::kCountLabel, "", 9600, 2760, 825, 255},
    {"chkOutput(2)", ControlKind::kCheckBox, "比較元ファイル：キー一致・内容不一致(&3)", 360, 3360,
     3495, 255},
    {"lblOutputData(2)", ControlKind::kPathLabel, "", 3960, 3360, 5535, 520},
    {"lblFileOCount(2)", ControlKind::kCountLabel, "", 9600, 3360, 825, 255},
    {"chkOutput(3)", ControlKind::kCheckBox, "比較先ファイル：キー一致・内容不一致(&4)", 360, 3960,
     3495, 255},
    {"lblOutputData(3)", ControlKind::kPathLabel, "", 3960, 3960, 5535, 520},
    {"lblFileOCount(3)", ControlKind::kCountLabel, "", 9600, 3960, 825, 255},
    {"chkOutput(4)", ControlKind::kCheckBox, "キー・内容とも一致(&5)", 360, 4560, 3495, 255},
    {"lblOutputData(4)", ControlKind::kPathLabel, "", 3960, 4560, 5535, 520},
    {"lblFileOCount(4)", ControlKind::kCountLabel, "", 9600, 4560, 825, 255},
    {"chkOutput(5)", ControlKind::kCheckBox, "比較結果リスト(&6)", 360, 5160, 3495, 255},
    {"lblOutputData(5)", ControlKind::kPathLabel, "", 3960, 5160, 5535, 520},
    {"lblFileOCount(5)", ControlKind::kCountLabel, "", 9600, 5160, 825, 255},

    {"chkKey", ControlKind::kCheckBox, "比較のキーを指定する(&K)", 360, 6105, 3495, 255},
    {"Label1", ControlKind::kLabel, "(開始桁-終了桁.･･･20個まで)           (&L)", 480, 6360, 3135,
     255},
    {"txtKeyRange", ControlKind::kTextBox, "", 3960, 6120, 6375, 375},
    {"chkOmit", ControlKind::kCheckBox, "比較から除外する領域を指定する(&M)", 360, 6705, 3495, 255},
    {"Label2", ControlKind::kLabel, "(開始桁-終了桁.･･･20個まで)           (&N)", 480, 6975, 3135,
     255},
    {"txtOmitRange", ControlKind::kTextBox, "", 3960, 6720, 6375, 375},

    {"cmdStart", ControlKind::kButton, "ファイルの比較を開始する(&S)", 6840, 7365, 3495, 375},
    {"chkDisplay", ControlKind::kCheckBox, "処理状況を表示する(&V)", 360, 7605, 3495, 255},
    // The ruler's caption is the default ruler of the result list.
    {"lblDisplay1", ControlKind::kLabel, "", 1110, 7935, 9135, 135},
    {"lblDisplay2", ControlKind::kLabel, "比較元", 360, 8130, 615, 255},
    {"lblRecord(0)", ControlKind::kLabel, "", 1080, 8130, 9255, 255},
    {"lblDisplay3", ControlKind::kLabel, "比較先", 360, 8370, 615, 255},
    {"lblRecord(1)", ControlKind::kLabel, "", 1080, 8370, 9255, 255},
    {"lblDisplay4", ControlKind::kLabel, "結果", 360, 8610, 615, 255},
    {"lblRecord(2)", ControlKind::kLabel, "", 1080, 8610, 9255, 255},
};

}  // namespace vesmer
