#include "orlunestart.h"

#include <memory>
#include "aabcresources.h"
#include "boxnotifier.h"
#include "bsplash.h"
#include "bwfmainaa.h"
#include "bwfsave.h"
#include "comresources.h"
#include "desktopstate.h"

#include "exceptions.h"
#include "instanceguard.h"
#include "mmplayer.h"
#include "mmwavefile.h"
#include "mmwaveio.h"
#include "playerlink.h"
#include "progform.h"
#include "tempfiles.h"
#include "ui_application.h"
#include "verformaa.h"

using namespace vant;

int OrluneMain(const std::vector<std::string>& args, const OrluneStartHooks& hooks) {
  Application->Initialize();
  const std::string name = ipc::ExecutableName();
  ipc::GuardUi ui;
  // Shown before any window: the box carries the program's title, so the user knows whose it is.
  ui.show_message = [](const std::string& text) {
    Application->MessageBox(text, TVANTMainAA::kTitle, MB_OK);
  };
  ui.override_held = hooks.override_held ? hooks.override_held : ShiftOrCtrlHeld;
  if (auto code = ipc::EnterInstanceGuard(name, TVANTMainAA::kTitle, ui)) return *code;
  // What saves and wave writes of earlier runs left when they were killed.
  RemoveStaleSaveTemps(vant::TempFolder());
  if (!args.empty()) RecoverSaveBackups(std::filesystem::path(args.front()).parent_path());
  wioRemoveStaleTemps(vant::TempFolder().string());

  TBoxNotifier notifier;
  TScopedNotifier notifying(notifier);
  // The audio file readers the player finds files through, once, before any window exists.
  RegisterAudioFileReaders();
  TVANTSplash* splash = nullptr;
  // Outlives the windows: the main window drives the player through it until it is freed.
  std::unique_ptr<orlune::TMOPlayerLink> player_link;
  try {
    splash = new TVANTSplash(Application);
    splash->DoCreate();
    splash->ShowPicture(2);
    splash->Show();
    splash->Repaint();
    Application->SetTitle(TVANTMainAA::kTitle);

    TVANTMainAA::CommandLine = args;
    TVANTMainAA* main_window;
    Application->CreateForm(main_window);
    TMOPlayer* player;
    Application->CreateForm(player);
    player_link = std::make_unique<orlune::TMOPlayerLink>(*player);
    main_window->SetPlayer(player_link.get());
    new TComDataRes(Application);
    new TAABCDataRes(Application);
    TVersionConv* version;
    Application->CreateForm(version);
    TPROGForm* progress;
    Application->CreateForm(progress);
    main_window->ProgressForm = progress;
    if (hooks.before_run) hooks.before_run();
    // The toolkit maps a window before its show event runs: the splash has its time before
    // the main window is shown, so the main window never appears in front of it.
    TVANTMainAA::WaitForSplash();
    Application->Run();
  } catch (const std::exception& e) {
    Application->ShowException(e);
  } catch (...) {
    Application->ShowException(Exception(""));
  }
  // The windows are freed before the program ends, as the framework's application frees its
  // forms at exit (the splash among them): each main window ends its endpoint, so no socket of
  // it is left behind.
  Application->DestroyComponents();
  ipc::LeaveInstanceGuard(name);
  return 0;
}
