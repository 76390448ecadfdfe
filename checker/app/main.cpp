// KivConsistencyCheck: checks the tables of a data dictionary against its
// column catalogue.
//
//   KivConsistencyCheck [--offscreen] [--screenshot FILE] [CONNECTPATH]
//
// With a display it opens the main window (the connect path, when given, is
// filled in). Without one, or with --offscreen, it drives the same window
// offscreen: Connect (answering the login with the preset user and an empty
// password), Check, then prints the log and saves a picture of the window
// (FILE, by default "KivConsistencyCheck.png"). The exit code is 0 when the
// connection was made and the check ran to its end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kivds/db.h"
#include "kivforms/forms.h"
#include "kivqt/qt.h"
#include "kivwin/win.h"
#include "mainform.h"

namespace {

struct Options {
  bool offscreen = false;
  std::string screenshot = "KivConsistencyCheck.png";
  std::string connectPath;
  bool valid = true;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--offscreen") {
      options.offscreen = true;
    } else if (arg == "--screenshot" && i + 1 < argc) {
      options.screenshot = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && options.connectPath.empty()) {
      options.connectPath = arg;
    } else {
      options.valid = false;
    }
  }
  return options;
}

// The scripted run: the same handlers a user's clicks reach.
int RunOffscreen(checker::TForm1& form, const Options& options) {
  bool failed = false;
  kivforms::Application->OnException = [&](kivds::TComponent*, std::exception_ptr error) {
    failed = true;
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "KivConsistencyCheck: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "KivConsistencyCheck: unknown exception\n");
    }
  };
  form.Show();
  form.btnConnect->Click();
  const bool connected = form.cn->IsConnected();
  if (connected) form.btnCheck->Click();
  for (int i = 0; i < form.memLog->Lines().Count(); ++i) std::printf("%s\n", form.memLog->Lines()[i].c_str());
  std::fflush(stdout);
  if (!form.GrabToPng(options.screenshot)) {
    std::fprintf(stderr, "KivConsistencyCheck: cannot write %s\n", options.screenshot.c_str());
    failed = true;
  } else {
    std::fprintf(stderr, "KivConsistencyCheck: window saved to %s\n", options.screenshot.c_str());
  }
  if (connected) form.btnConnect->Click();  // disconnects
  return connected && !failed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (!options.valid) {
    std::fprintf(stderr, "usage: KivConsistencyCheck [--offscreen] [--screenshot FILE] [CONNECTPATH]\n");
    return 2;
  }
  const bool scripted = options.offscreen || !kivqt::HasDisplay();
  if (scripted) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Message boxes go to stderr; the login dialog is confirmed as it comes.
    kivwin::SetMessageBoxSink([](const std::string& text, const std::string& caption, unsigned) {
      std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
      return kivwin::IDOK;
    });
    kivforms::SetModalHook([](kivforms::TForm&) { return static_cast<int>(kivforms::mrOk); });
  }

  kivforms::TApplication app(argc, argv);
  app.Initialize();
  app.MainFormOnTaskbar = true;
  app.Title = "Kiv Consistency Check";
  checker::TForm1* form = app.CreateForm<checker::TForm1>();
  if (!options.connectPath.empty()) form->edConnectPath->SetText(options.connectPath);
  if (scripted) return RunOffscreen(*form, options);
  app.Run();
  return 0;
}
