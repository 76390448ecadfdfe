// Forms, standard controls and dialogs over Qt 6 Widgets. Event handlers are
// std::function members (OnClick, OnChange, OnCreate) that a form wires to
// its own member functions. Every modal thing (message boxes, ShowModal, the
// open-file and folder dialogs, the login dialog, the application's default
// exception display) goes through a hook that a test can answer; without a
// hook the real Qt dialog is shown. Text is Windows-1252 bytes, as
// everywhere in the product.
#ifndef KIVFORMS_FORMS_H
#define KIVFORMS_FORMS_H

#include <QPointer>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kivds/classes.h"
#include "kivqt/qt.h"

class QApplication;
class QImage;

namespace kivforms {

using kivds::TComponent;
using kivds::TNotifyEvent;
using kivds::TStrings;

using kivqt::FromQ;
using kivqt::ToQ;

enum TAnchorKind : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
enum TPosition { poDesigned, poScreenCenter };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TFormBorderStyle { bsSizeable, bsDialog };
enum TComboBoxStyle { csDropDown, csDropDownList };
// Same numbers as the message-box answers.
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4,
                          mrIgnore = 5, mrYes = 6, mrNo = 7 };

class TWinControl;
class TForm;
class TButton;

class TControl : public TComponent {
 public:
  TControl(TComponent* owner, TWinControl* parent, QWidget* widget);
  ~TControl() override;
  QWidget* Widget() const { return widget_.data(); }
  TWinControl* Parent() const { return parent_; }
  TForm* ParentForm() const;

  int Left() const { return widget_->x(); }
  int Top() const { return widget_->y(); }
  int Width() const { return widget_->width(); }
  int Height() const { return widget_->height(); }
  void SetBounds(int left, int top, int width, int height);
  void SetLeftTop(int left, int top) { SetBounds(left, top, Width(), Height()); }
  void SetSize(int width, int height) { SetBounds(Left(), Top(), width, height); }
  bool Enabled() const { return widget_->isEnabled(); }
  void SetEnabled(bool enabled) { widget_->setEnabled(enabled); }
  bool Visible() const { return !widget_->isHidden(); }
  void SetVisible(bool visible) { widget_->setVisible(visible); }
  unsigned Anchors() const { return anchors_; }
  void SetAnchors(unsigned anchors);

 protected:
  // Notes the distances to the parent's right and bottom edges.
  void RememberMargins();

 private:
  friend class TWinControl;
  void FollowParent(int parentWidth, int parentHeight);

  QPointer<QWidget> widget_;
  TWinControl* parent_;
  unsigned anchors_ = akLeft | akTop;
  int rightMargin_ = 0, bottomMargin_ = 0;
};

// A control that holds others; children with right or bottom anchors follow
// its size.
class TWinControl : public TControl {
 public:
  TWinControl(TComponent* owner, TWinControl* parent, QWidget* widget);
  ~TWinControl() override;
  int ClientWidth() const { return Widget()->width(); }
  int ClientHeight() const { return Widget()->height(); }

 private:
  friend class TControl;
  void Resized();
  std::vector<TControl*> children_;
  QObject* resizeWatcher_ = nullptr;
};

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  void SetClientSize(int width, int height);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition p) { position_ = p; }
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle s);
  // Font by name and height in pixels (negative: character height, as stored).
  void SetFont(const std::string& name, int height);
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int result) { modalResult_ = result; }
  // Buttons that Enter and Escape press.
  void SetDefaultButton(TButton* b) { defaultButton_ = b; }
  void SetCancelButton(TButton* b) { cancelButton_ = b; }
  void ForgetButton(const TButton* b) {
    if (defaultButton_ == b) defaultButton_ = nullptr;
    if (cancelButton_ == b) cancelButton_ = nullptr;
  }

  // Runs OnCreate; call once the form's controls exist (CreateForm does).
  void DoCreate();
  void Show();
  void Hide() { Widget()->hide(); }
  // Shows the form until ModalResult is set or the window closes; through
  // the modal hook when one is installed.
  int ShowModal();
  // Paints the form (offscreen too) into an image or a PNG file.
  QImage Grab();
  bool GrabToPng(const std::string& path);

  TNotifyEvent OnCreate;

 private:
  TPosition position_ = poDesigned;
  TFormBorderStyle borderStyle_ = bsSizeable;
  int modalResult_ = mrNone;
  TButton* defaultButton_ = nullptr;
  TButton* cancelButton_ = nullptr;
};

class TLabel : public TControl {
 public:
  TLabel(TComponent* owner, TWinControl* parent);
  std::string Caption() const;
  // The label takes the width of its text ('&' marks the accelerator).
  void SetCaption(const std::string& caption);
  void SetFocusControl(TWinControl* control);
};

class TEdit : public TWinControl {
 public:
  TEdit(TComponent* owner, TWinControl* parent);
  std::string Text() const;
  void SetText(const std::string& text);
  bool ReadOnly() const;
  void SetReadOnly(bool v);
  void SetMaxLength(int n);
  void SetPasswordChar(char c);
  TNotifyEvent OnChange;
};

class TButton : public TWinControl {
 public:
  TButton(TComponent* owner, TWinControl* parent);
  ~TButton() override;
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  void SetDefault(bool v);
  void SetCancel(bool v);  // Escape presses it
  void SetModalResult(int r) { modalResult_ = r; }
  // As a user's click: nothing when disabled; OnClick, then the button's
  // modal result goes to its form.
  void Click();
  TNotifyEvent OnClick;

 private:
  int modalResult_ = mrNone;
};

class TCheckBox : public TWinControl {
 public:
  TCheckBox(TComponent* owner, TWinControl* parent);
  void SetCaption(const std::string& caption);
  bool Checked() const;
  void SetChecked(bool v);
  TNotifyEvent OnClick;
};

class TGroupBox : public TWinControl {
 public:
  TGroupBox(TComponent* owner, TWinControl* parent);
  void SetCaption(const std::string& caption);
};

class TRadioGroup : public TWinControl {
 public:
  TRadioGroup(TComponent* owner, TWinControl* parent);
  ~TRadioGroup() override;
  void SetCaption(const std::string& caption);
  TStrings& Items();
  int Columns() const { return columns_; }
  void SetColumns(int columns);
  int ItemIndex() const;
  void SetItemIndex(int index);
  TNotifyEvent OnClick;

 private:
  void Rebuild();
  std::unique_ptr<kivds::TStringList> items_;
  int columns_ = 1;
  int itemIndex_ = -1;
};

class TComboBox : public TWinControl {
 public:
  TComboBox(TComponent* owner, TWinControl* parent);
  ~TComboBox() override;
  TStrings& Items();
  void SetStyle(TComboBoxStyle style);
  int ItemIndex() const;
  void SetItemIndex(int index);
  std::string Text() const;
  TNotifyEvent OnChange;

 private:
  std::unique_ptr<TStrings> items_;
};

class TCheckListBox : public TWinControl {
 public:
  TCheckListBox(TComponent* owner, TWinControl* parent);
  ~TCheckListBox() override;
  TStrings& Items();
  bool Checked(int index) const;
  void SetChecked(int index, bool checked);

 private:
  std::unique_ptr<TStrings> items_;
};

class TMemo : public TWinControl {
 public:
  TMemo(TComponent* owner, TWinControl* parent);
  ~TMemo() override;
  TStrings& Lines();
  bool ReadOnly() const;
  void SetReadOnly(bool v);
  void SetScrollBars(TScrollStyle s);

 private:
  std::unique_ptr<TStrings> lines_;
};

enum TOpenOption : unsigned {
  ofHideReadOnly = 1, ofNoChangeDir = 2, ofFileMustExist = 4, ofEnableSizing = 8
};

class TOpenDialog : public TComponent {
 public:
  using TComponent::TComponent;
  std::string FileName, Filter, DefaultExt, InitialDir, Title;
  unsigned Options = ofHideReadOnly | ofEnableSizing;
  // True when the user chose a file (now in FileName).
  bool Execute();
};

// ---- Hooks ---------------------------------------------------------------

using TModalHook = std::function<int(TForm& form)>;
using TOpenDialogHook = std::function<bool(TOpenDialog& dialog)>;
using TSelectDirectoryHook = std::function<bool(const std::string& caption, std::string& directory)>;
// Each returns the hook it replaces; an empty hook brings the Qt dialog back.
TModalHook SetModalHook(TModalHook hook);
TOpenDialogHook SetOpenDialogHook(TOpenDialogHook hook);
TSelectDirectoryHook SetSelectDirectoryHook(TSelectDirectoryHook hook);

// ---- Message boxes -------------------------------------------------------
// All of them go to the message-box sink of the Windows services layer
// (kivwin::SetMessageBoxSink), which a test answers.

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgButtons { mbOK, mbOKCancel, mbYesNo, mbYesNoCancel };
void ShowMessage(const std::string& text);
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);
bool SelectDirectory(const std::string& caption, std::string& directory);

// ---- Login ---------------------------------------------------------------

class TLoginDialog : public TForm {
 public:
  explicit TLoginDialog(TComponent* owner);
  TLabel* DatabaseName;
  TEdit* UserName;
  TEdit* Password;
  TButton* OKButton;
  TButton* CancelButton;
};
// The default login prompt: a TLoginDialog shown modally.
bool LoginDialogEx(const std::string& databaseName, std::string& userName, std::string& password,
                   bool nameReadOnly);

// ---- Application ---------------------------------------------------------

class TApplication : public TComponent {
 public:
  // Creates the Qt application when there is none. Installs the Qt message
  // box, the default login prompt and the exception display as the
  // process-wide hooks, unless hooks are already installed.
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  void Initialize() {}
  bool MainFormOnTaskbar = true;
  std::string Title = "Application";
  std::string HelpFile;
  TForm* MainForm() const { return mainForm_; }
  template <class T>
  T* CreateForm() {
    T* form = new T(this);
    if (mainForm_ == nullptr) mainForm_ = form;
    form->DoCreate();
    return form;
  }
  void Run();
  void Terminate();
  void ProcessMessages();
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
  // Help requests are recorded through OnHelp; there is no help viewer.
  bool HelpCommand(int command, intptr_t data);
  // The default display of an exception that escaped an event handler:
  // OnException when set, else a message box with the text (EAbort is silent).
  void HandleException(std::exception_ptr error, TComponent* sender);
  void ShowException(const std::exception& e);

  std::function<void(TComponent* sender, std::exception_ptr error)> OnException;
  std::function<bool(int command, intptr_t data)> OnHelp;

 private:
  std::unique_ptr<QApplication> qtApp_;
  TForm* mainForm_ = nullptr;
};

extern TApplication* Application;

}  // namespace kivforms

#endif
