#pragma once
// Saving a VANT file. The new file is built whole in the temporary folder from the source, the
// model's images to write and its scan tables (with the attachments added and deleted since), is
// checked, and only then replaces the target through a "~" backup, so that at every moment the
// target or its backup holds a whole file. Messages go to the notifier, progress to the progress
// sink, file operations through the file layer (bwffilelayer.h).
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "bwfchunk.h"
#include "bwfmessage.h"

inline constexpr const char* kMsgSaveSourceMissing = "読み込み用ファイルをオープンできません。C01";
inline constexpr const char* kMsgSaveSourceOpen = "読み込み用ファイルをオープンできません。C02";
inline constexpr const char* kMsgSaveTempOpen = "保存用ファイルをオープンできません。";
inline constexpr const char* kMsgSaveReadError = "読み出しエラーが発生しました。";
inline constexpr const char* kMsgSaveWriteError = "書き込みエラーが発生しました。";
inline constexpr const char* kMsgSaveNoTemp =
    "保存ファイルの生成に失敗しました。変更は保存されていません。";
inline constexpr const char* kMsgSaveBadTemp =
    "中間ファイルの生成に失敗しました。変更は保存されていません。";
inline constexpr const char* kMsgSaveRename = "ファイル名の変更ができません。";
inline constexpr const char* kMsgSaveCopy = "ファイルを保存することができませんでした。";
inline constexpr const char* kMsgSaveAttachMissing = "ファイルが見つかりません。";
inline constexpr const char* kMsgSaveAttachOpen = "ファイルオープンに失敗しました。";
inline constexpr const char* kMsgSaveReadOnly =
    "ファイルが読み込み専用のため、上書き保存することはできません。\n"
    "別のファイルを指定してください。";
inline constexpr const char* kMsgSaveTooLarge =
    "保存後のファイルサイズが処理できる上限を超えるため、保存できません。";
// A file system that filled up: before the save (the converter's check) or while it wrote.
inline constexpr const char* kMsgSaveTargetShort =
    "保存先のドライブの空き容量が不足しています。\n別の保存場所を指定してください。";
inline constexpr const char* kMsgSaveTempShort =
    "一時ファイルの保存先ドライブの空き容量が不足しています。\n"
    "容量を確保してからやり直してください。";
inline constexpr const char* kMsgSaved = "情報を保存しました。";
inline constexpr const char* kSaveCaption = "書き込み中　";

// The result of a save stopped because a file system had too little room for it.
inline constexpr int kSaveNoRoom = -2;

// Writes the edited commercial of `chunk` (scanned from `source`) to `target`. Returns -1 when
// the save stopped before the replacement (the target is untouched), kSaveNoRoom when it stopped
// so because the target's or the temporary folder's file system filled up, else the number of
// errors met while replacing (0: the target holds the new file). Only with 0 is the viewer of
// `edition` told and "情報を保存しました。" shown.
int SaveToFile(TBWFChunck& chunk, const std::filesystem::path& target,
               const std::filesystem::path& source,
               const std::optional<vant::ipc::WindowRef>& window = std::nullopt,
               int edition = ecAdAgency);

// The length in bytes of the file that `SaveToFile` would write now, with the files of `pending`
// attached as well; -1 when the save could not plan it (it then stops with its own message).
// Shows nothing and leaves the model as it was.
int64_t PlannedSaveSize(TBWFChunck& chunk, const std::filesystem::path& source,
                        const std::vector<std::filesystem::path>& pending = {});

// Removes from the temporary folder the new files of saves killed before they were done (only
// this user's, named as the save names them, whose process is gone). The converter calls it when
// it starts. Returns how many went.
int RemoveStaleSaveTemps(const std::filesystem::path& folder);

// The old file of a replaced target waits under a hidden name of the save's making
// (".NAME.PID.XXXXXX.bak") between the save's two renames, locked while the save lives. For each
// such backup in `folder` whose save was killed: when its target is missing (killed between the
// renames) it goes back under the target's name, otherwise (the new file stands) it is removed.
// Every save calls it for its target's folder, and the converter for the folder of the file it
// starts with. Returns how many backups were dealt with.
int RecoverSaveBackups(const std::filesystem::path& folder);  // "" is the current folder

// How a successful save tells a running viewer (NotifyViewer by default). Tests install a
// recorder; an empty function restores the default.
using TBWFViewerNotice = std::function<void(const TBWFChunck& chunk, int edition,
                                            const std::optional<vant::ipc::WindowRef>& window)>;
void SetBWFViewerNotice(TBWFViewerNotice notice);
