#pragma once
// Messages between the converter and the disc viewer: the editions with the window titles by
// which the programs find each other, telling a running viewer the folder of a saved file, and
// handing a file to a program (the converter, or a display program for an attachment) or
// starting that program with the file.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "windowlink.h"

class TBWFChunck;

// The edition of the programs; these programs are edition 2.
enum TEditionCode : int {
  ecPostProduction = 1,
  ecAdAgency = 2,
  ecBroadcaster = 3,
};

// Window titles (UTF-8) and the converter's program file of an edition; empty for any other code.
// The viewer's titles have an ordinary blank after the product name, the converter's a
// full-width one.
std::string ViewerTitle(int edition);
std::string ConverterTitle(int edition);
std::string ConverterProgram(int edition);

inline constexpr const char* kMsgShowFileMissing = "表示するファイルが見つかりません。";
inline constexpr const char* kMsgNoApplication =
    "アプリケーションが登録されていません。\nアプリケーションを登録して再度 やり直して下さい。";
inline constexpr const char* kMsgStartNoResources = "メモリまたはシステムリソースが足りません。";
inline constexpr const char* kMsgStartBadFormat =
    "この実行ファイルは起動できません。\n(Win32アプリケーションではありません。).";
inline constexpr const char* kMsgStartFileNotFound = "指定したファイルが見つかりません。";
inline constexpr const char* kMsgStartPathNotFound = "指定したパスが見つかりません。";
inline constexpr const char* kMsgStartOther = "WinExec エラー";

// Tells the viewer of the edition the folder of the model's file (the file it was built on),
// ending with "/". `window` is used while it answers, else the viewer is looked up by title.
// Nothing is reported when there is no viewer; true when one handled the message.
bool NotifyViewer(const TBWFChunck& chunk, int edition,
                  const std::optional<vant::ipc::WindowRef>& window = std::nullopt);

// Hands `file` to the program whose main window carries `title` (restored, brought forward and
// sent the path), or, when there is none or the title is empty, starts `program` with the
// argument vector {program, file}, never through a shell. Each failure shows its message.
// Returns true when the file was handed over or the program started.
bool OpenWithApplication(const std::string& program, const std::filesystem::path& file,
                         std::string_view title);
