// The main window of KivConsistencyCheck: a connect path and server type, the
// dictionary's tables in a check list, and a log of the check of each ticked
// table against the dictionary's column catalogue.
#ifndef CHECKER_APP_MAINFORM_H
#define CHECKER_APP_MAINFORM_H

#include <string>
#include <vector>

#include "checker/kivcnnct.h"
#include "checker/kivquery.h"
#include "checker/kivtable.h"
#include "kivforms/forms.h"

namespace checker {

class TForm1 : public kivforms::TForm {
 public:
  explicit TForm1(kivds::TComponent* owner);
  // The connection still disconnects when it is destroyed with the form, but
  // its events no longer reach the form's controls, which are gone by then.
  ~TForm1() override;

  kivforms::TLabel* Label1;
  kivforms::TLabel* Label2;
  kivforms::TLabel* Label3;
  kivforms::TEdit* edConnectPath;
  kivforms::TRadioGroup* RadioGroup1;
  kivforms::TButton* btnBrowse;
  kivforms::TButton* btnConnect;
  kivforms::TCheckListBox* clbTables;
  kivforms::TButton* btnCheck;
  kivforms::TMemo* memLog;
  TKivConnection* cn;
  TKivTable* tb;
  TKivQuery* qu;
  kivforms::TOpenDialog* OpenDialog1;

  // -- event handlers
  void FormCreate(kivds::TComponent* sender);
  void btnBrowseClick(kivds::TComponent* sender);
  // Connects (or disconnects) and accepts dictionary connections only. Its
  // failures are logged and shown in a message box.
  void btnConnectClick(kivds::TComponent* sender);
  void cnAfterConnect(kivds::TComponent* sender);
  void cnAfterDisconnect(kivds::TComponent* sender);
  // Checks each ticked table. A failure ends the check and goes to the
  // application's exception display; the lines logged so far stay. Connect
  // and Check are disabled while it runs.
  void btnCheckClick(kivds::TComponent* sender);

  // True while a check runs.
  bool Checking() const { return checking_; }

 private:
  // Adds the text to the log, one memo line per line of the text, and lets
  // the window show it.
  void LogLine(const std::string& text);
  // Runs a handler's body; what escapes it goes to the application's
  // exception display (an exception must not leave a Qt slot).
  template <class F>
  void Guarded(F&& body);

  // Each label and the control at its right, which ends the label's room.
  struct LabelRoom {
    kivforms::TLabel* label;
    kivforms::TControl* next;
  };
  std::vector<LabelRoom> LabelRooms() const;
  // Whether every label shows its whole text, kLabelGap pixels clear of the
  // control at its right.
  bool LabelsFit() const;
  // Keeps the form's font when the labels fit; else takes a narrow face of
  // the same size, else steps the size down, until they fit.
  void FitFontToLabels();

  static constexpr int kFontPixels = 11;
  static constexpr int kSmallestFontPixels = 8;
  static constexpr int kLabelGap = 3;

  bool checking_ = false;
};

}  // namespace checker

#endif
