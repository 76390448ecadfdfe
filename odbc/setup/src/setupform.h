// The setup dialog: edits one data source's settings for ConfigDSN and,
// relabelled, serves as the driver's connect prompt.
#ifndef KIVSET_SETUPFORM_H
#define KIVSET_SETUPFORM_H

#include <string>

#include "dsninfo.h"
#include "kivforms/forms.h"

namespace kivset {

using kivforms::TButton;
using kivforms::TCheckBox;
using kivforms::TComboBox;
using kivforms::TComponent;
using kivforms::TEdit;
using kivforms::TGroupBox;
using kivforms::TLabel;
using kivforms::TOpenDialog;

class TForm1 : public kivforms::TForm {
 public:
  explicit TForm1(TComponent* owner);

  void FormCreate();
  // Always 0: filling the form cannot fail.
  int SetFormFromDSNInfo(const TDSNInfo& info);
  void GetDSNInfoFromForm(TDSNInfo& info) const;
  // The connect prompt: user name and password in place of the name and
  // description, the password masked.
  void MakeLoginPrompt();
  bool IsLoginPrompt() const { return loginPrompt_; }

  void ButtonOKClick();
  void ButtonCancelClick();
  void ButtonHelpClick();
  void ButtonBrowseClick();
  void ButtonCheckDLLClick();
  void EditBoxChange();
  void ComboIndexTypeChange();

  TLabel* DSNLabel;
  TLabel* DescriptionLabel;
  TEdit* EditDSN;
  TEdit* EditDesc;
  TGroupBox* GroupBox1;
  TCheckBox* CheckBoxDD;
  TEdit* EditDir;
  TButton* ButtonBrowse;
  TGroupBox* GroupBox2;
  TComboBox* ComboIndexType;
  TComboBox* ComboLockType;
  TComboBox* ComboMorvaneLocking;
  TComboBox* ComboCharSet;
  TComboBox* ComboCompression;
  TEdit* EditMBSize;
  TEdit* EditFileCache;
  TGroupBox* GroupBox3;
  TCheckBox* CheckBoxRemote;
  TCheckBox* CheckBoxLocal;
  TCheckBox* CheckBoxKIS;
  TGroupBox* GroupBox4;
  TCheckBox* CheckBoxShowDeleted;
  TCheckBox* CheckBoxTrimTrail;
  TButton* ButtonOK;
  TButton* ButtonCancel;
  TButton* ButtonHelp;
  TButton* ButtonCheckDLL;
  TOpenDialog* DictionaryDialog;

 private:
  bool loginPrompt_ = false;
};

// Creates the dialog and runs its OnCreate.
std::unique_ptr<TForm1> CreateSetupForm();

// The text of the "Check DLLs" box: the libraries the driver needs, looked
// for in `ownFolder` first and then where the dynamic loader looks.
std::string CheckDLLsMessage(const std::string& ownFolder);

// Range checks of the two numbers; a failure shows its message box.
bool CheckRanges(const TDSNInfo& info);

}  // namespace kivset

#endif
