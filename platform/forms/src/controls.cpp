#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextBlock>

#include "kivforms/forms.h"
#include "kivwin/win.h"

namespace kivforms {

namespace {

// Calls back when the watched widget is resized, closed or gets a key that
// its children left alone (the callback says whether it took the key).
class WidgetWatcher : public QObject {
 public:
  WidgetWatcher(QObject* parent, std::function<void()> onResize, std::function<void()> onClose,
                std::function<bool(int key)> onKey = nullptr)
      : QObject(parent), onResize_(std::move(onResize)), onClose_(std::move(onClose)),
        onKey_(std::move(onKey)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize && onResize_) onResize_();
    if (event->type() == QEvent::Close && onClose_) onClose_();
    if (event->type() == QEvent::KeyPress && onKey_ &&
        onKey_(static_cast<QKeyEvent*>(event)->key()))
      return true;
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> onResize_, onClose_;
  std::function<bool(int)> onKey_;
};

TModalHook& ModalHook() {
  static TModalHook hook;
  return hook;
}

}  // namespace

TModalHook SetModalHook(TModalHook hook) { return std::exchange(ModalHook(), std::move(hook)); }

// ---- TControl / TWinControl ----------------------------------------------

TControl::TControl(TComponent* owner, TWinControl* parent, QWidget* widget)
    : TComponent(owner), widget_(widget), parent_(parent) {
  if (parent_ != nullptr) {
    widget->setParent(parent_->Widget());
    parent_->children_.push_back(this);
    widget->show();
  }
}

TControl::~TControl() {
  if (parent_ != nullptr) std::erase(parent_->children_, this);
  delete widget_.data();
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->parent_ != nullptr) c = c->parent_;
  return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetBounds(int left, int top, int width, int height) {
  widget_->setGeometry(left, top, width, height);
  RememberMargins();
}

void TControl::SetAnchors(unsigned anchors) {
  anchors_ = anchors;
  RememberMargins();
}

void TControl::RememberMargins() {
  if (parent_ == nullptr) return;
  rightMargin_ = parent_->ClientWidth() - (Left() + Width());
  bottomMargin_ = parent_->ClientHeight() - (Top() + Height());
}

void TControl::FollowParent(int pw, int ph) {
  QRect r = widget_->geometry();
  if (anchors_ & akRight) {
    if (anchors_ & akLeft) r.setWidth(std::max(0, pw - r.left() - rightMargin_));
    else r.moveLeft(pw - r.width() - rightMargin_);
  }
  if (anchors_ & akBottom) {
    if (anchors_ & akTop) r.setHeight(std::max(0, ph - r.top() - bottomMargin_));
    else r.moveTop(ph - r.height() - bottomMargin_);
  }
  widget_->setGeometry(r);
}

TWinControl::TWinControl(TComponent* owner, TWinControl* parent, QWidget* widget)
    : TControl(owner, parent, widget) {
  resizeWatcher_ = new WidgetWatcher(widget, [this] { Resized(); }, nullptr);
  widget->installEventFilter(resizeWatcher_);
}

TWinControl::~TWinControl() {
  for (TControl* c : children_) c->parent_ = nullptr;
  children_.clear();
}

void TWinControl::Resized() {
  for (TControl* c : children_) c->FollowParent(ClientWidth(), ClientHeight());
}

// ---- TForm ---------------------------------------------------------------

TForm::TForm(TComponent* owner) : TWinControl(owner, nullptr, new QWidget) {
  Widget()->setAttribute(Qt::WA_DontShowOnScreen, false);
  Widget()->installEventFilter(new WidgetWatcher(
      Widget(), nullptr,
      [this] {
        if (modalResult_ == mrNone) modalResult_ = mrCancel;
      },
      [this](int key) {
        TButton* target = key == Qt::Key_Escape ? cancelButton_
                          : (key == Qt::Key_Return || key == Qt::Key_Enter) ? defaultButton_
                                                                             : nullptr;
        if (target == nullptr) return false;
        target->Click();
        return true;
      }));
}

std::string TForm::Caption() const { return FromQ(Widget()->windowTitle()); }
void TForm::SetCaption(const std::string& caption) { Widget()->setWindowTitle(ToQ(caption)); }

void TForm::SetClientSize(int width, int height) { Widget()->resize(width, height); }

void TForm::SetBorderStyle(TFormBorderStyle s) {
  borderStyle_ = s;
  Widget()->setWindowFlag(Qt::Dialog, s == bsDialog);
}

void TForm::SetFont(const std::string& name, int height) {
  QFont font(ToQ(name));
  font.setPixelSize(std::abs(height));
  Widget()->setFont(font);
}

void TForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TForm::Show() {
  if (position_ == poScreenCenter) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect area = screen->availableGeometry();
      Widget()->move(area.center() - Widget()->rect().center());
    }
  }
  Widget()->show();
}

int TForm::ShowModal() {
  modalResult_ = mrNone;
  Widget()->setWindowModality(Qt::ApplicationModal);
  Show();
  int result = mrNone;
  if (ModalHook()) {
    result = ModalHook()(*this);
    if (result == mrNone) result = modalResult_;
  } else {
    QEventLoop loop;
    while (modalResult_ == mrNone && Widget()->isVisible())
      loop.processEvents(QEventLoop::WaitForMoreEvents);
    result = modalResult_ == mrNone ? mrCancel : modalResult_;
  }
  Widget()->hide();
  Widget()->setWindowModality(Qt::NonModal);
  return result;
}

QImage TForm::Grab() { return Widget()->grab().toImage(); }

bool TForm::GrabToPng(const std::string& path) {
  return Grab().save(QString::fromStdString(path), "PNG");
}

// ---- Simple controls -----------------------------------------------------

TLabel::TLabel(TComponent* owner, TWinControl* parent) : TControl(owner, parent, new QLabel) {}

std::string TLabel::Caption() const { return FromQ(static_cast<QLabel*>(Widget())->text()); }

void TLabel::SetCaption(const std::string& caption) {
  auto* label = static_cast<QLabel*>(Widget());
  label->setText(ToQ(caption));
  label->adjustSize();
  RememberMargins();
}

void TLabel::SetFocusControl(TWinControl* control) {
  static_cast<QLabel*>(Widget())->setBuddy(control ? control->Widget() : nullptr);
}

TEdit::TEdit(TComponent* owner, TWinControl* parent) : TWinControl(owner, parent, new QLineEdit) {
  QObject::connect(static_cast<QLineEdit*>(Widget()), &QLineEdit::textChanged, Widget(), [this] {
    if (OnChange) OnChange(this);
  });
}

std::string TEdit::Text() const { return FromQ(static_cast<QLineEdit*>(Widget())->text()); }
void TEdit::SetText(const std::string& text) { static_cast<QLineEdit*>(Widget())->setText(ToQ(text)); }
bool TEdit::ReadOnly() const { return static_cast<QLineEdit*>(Widget())->isReadOnly(); }
void TEdit::SetReadOnly(bool v) { static_cast<QLineEdit*>(Widget())->setReadOnly(v); }
void TEdit::SetMaxLength(int n) { static_cast<QLineEdit*>(Widget())->setMaxLength(n > 0 ? n : 32767); }
void TEdit::SetPasswordChar(char c) {
  static_cast<QLineEdit*>(Widget())->setEchoMode(c ? QLineEdit::Password : QLineEdit::Normal);
}

TButton::TButton(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, parent, new QPushButton) {
  Widget()->resize(75, 25);
  QObject::connect(static_cast<QPushButton*>(Widget()), &QPushButton::clicked, Widget(),
                   [this] { Click(); });
}

TButton::~TButton() {
  if (TForm* form = ParentForm()) form->ForgetButton(this);
}

std::string TButton::Caption() const { return FromQ(static_cast<QPushButton*>(Widget())->text()); }
void TButton::SetCaption(const std::string& c) { static_cast<QPushButton*>(Widget())->setText(ToQ(c)); }
void TButton::SetDefault(bool v) {
  static_cast<QPushButton*>(Widget())->setDefault(v);
  if (TForm* form = ParentForm()) form->SetDefaultButton(v ? this : nullptr);
}

void TButton::SetCancel(bool v) {
  if (TForm* form = ParentForm()) form->SetCancelButton(v ? this : nullptr);
}

void TButton::Click() {
  if (!Enabled()) return;
  if (OnClick) OnClick(this);
  if (modalResult_ != mrNone)
    if (TForm* form = ParentForm()) form->SetModalResult(modalResult_);
}

TCheckBox::TCheckBox(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, parent, new QCheckBox) {
  QObject::connect(static_cast<QCheckBox*>(Widget()), &QCheckBox::clicked, Widget(), [this] {
    if (OnClick) OnClick(this);
  });
}

void TCheckBox::SetCaption(const std::string& c) {
  static_cast<QCheckBox*>(Widget())->setText(ToQ(c));
}
bool TCheckBox::Checked() const { return static_cast<QCheckBox*>(Widget())->isChecked(); }
void TCheckBox::SetChecked(bool v) { static_cast<QCheckBox*>(Widget())->setChecked(v); }

TGroupBox::TGroupBox(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, parent, new QGroupBox) {}

void TGroupBox::SetCaption(const std::string& c) {
  static_cast<QGroupBox*>(Widget())->setTitle(ToQ(c));
}

// ---- Controls with item lists --------------------------------------------

namespace {

// The items of a list widget or a combo box as TStrings.
template <class Widget>
class WidgetItems : public TStrings {
 public:
  explicit WidgetItems(Widget* w) : w_(w) {}
  int Count() const override { return w_->count(); }
  std::string Get(int i) const override { return FromQ(Text(i)); }
  void Insert(int i, const std::string& s) override { InsertAt(i, ToQ(s)); }
  void Delete(int i) override { Remove(i); }
  void Clear() override { w_->clear(); }

 private:
  QString Text(int i) const;
  void InsertAt(int i, const QString& s);
  void Remove(int i);
  Widget* w_;
};

template <>
QString WidgetItems<QListWidget>::Text(int i) const {
  return w_->item(i) ? w_->item(i)->text() : QString();
}
template <>
void WidgetItems<QListWidget>::InsertAt(int i, const QString& s) {
  auto* item = new QListWidgetItem(s);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(Qt::Unchecked);
  w_->insertItem(i, item);
}
template <>
void WidgetItems<QListWidget>::Remove(int i) {
  delete w_->takeItem(i);
}
template <>
QString WidgetItems<QComboBox>::Text(int i) const {
  return w_->itemText(i);
}
template <>
void WidgetItems<QComboBox>::InsertAt(int i, const QString& s) {
  w_->insertItem(i, s);
}
template <>
void WidgetItems<QComboBox>::Remove(int i) {
  w_->removeItem(i);
}

// The lines of a plain-text editor. An editor that was never given a line
// has none; one given an empty line has one.
class MemoLines : public TStrings {
 public:
  explicit MemoLines(QPlainTextEdit* e) : e_(e) {}
  int Count() const override {
    return (hasLines_ || !e_->document()->isEmpty()) ? e_->document()->blockCount() : 0;
  }
  std::string Get(int i) const override {
    return FromQ(e_->document()->findBlockByNumber(i).text());
  }
  int Add(const std::string& s) override {
    if (Count() == 0) e_->setPlainText(ToQ(s));
    else if (e_->document()->isEmpty()) e_->setPlainText("\n" + ToQ(s));  // after one empty line
    else e_->appendPlainText(ToQ(s));
    hasLines_ = true;
    return Count() - 1;
  }
  void Insert(int i, const std::string& s) override {
    std::vector<std::string> lines = ToVector();
    lines.insert(lines.begin() + i, s);
    Rebuild(lines);
  }
  void Delete(int i) override {
    std::vector<std::string> lines = ToVector();
    lines.erase(lines.begin() + i);
    Rebuild(lines);
  }
  void Clear() override {
    e_->clear();
    hasLines_ = false;
  }

 private:
  void Rebuild(const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& l : lines) list << ToQ(l);
    e_->setPlainText(list.join('\n'));
    hasLines_ = !lines.empty();
  }
  QPlainTextEdit* e_;
  bool hasLines_ = false;
};

}  // namespace

TRadioGroup::TRadioGroup(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, parent, new QGroupBox), items_(std::make_unique<kivds::TStringList>()) {
  new QGridLayout(Widget());
  items_->OnChange = [this](kivds::TStringList*) { Rebuild(); };
}

TRadioGroup::~TRadioGroup() { items_->OnChange = nullptr; }

void TRadioGroup::SetCaption(const std::string& c) {
  static_cast<QGroupBox*>(Widget())->setTitle(ToQ(c));
}

TStrings& TRadioGroup::Items() { return *items_; }

void TRadioGroup::SetColumns(int columns) {
  columns_ = std::max(1, columns);
  Rebuild();
}

int TRadioGroup::ItemIndex() const { return itemIndex_; }

void TRadioGroup::SetItemIndex(int index) {
  if (index < -1 || index >= items_->Count()) index = -1;
  itemIndex_ = index;
  auto buttons = Widget()->findChildren<QRadioButton*>();
  for (int i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == index);
}

void TRadioGroup::Rebuild() {
  auto* grid = static_cast<QGridLayout*>(Widget()->layout());
  while (QLayoutItem* item = grid->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const int n = items_->Count();
  const int rows = (n + columns_ - 1) / columns_;
  for (int i = 0; i < n; ++i) {
    auto* b = new QRadioButton(ToQ(items_->Get(i)));
    b->setAutoExclusive(true);
    grid->addWidget(b, rows ? i % rows : 0, rows ? i / rows : 0);
    QObject::connect(b, &QRadioButton::clicked, Widget(), [this, i] {
      itemIndex_ = i;
      if (OnClick) OnClick(this);
    });
  }
  SetItemIndex(itemIndex_ < n ? itemIndex_ : -1);
}

TComboBox::TComboBox(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, parent, new QComboBox) {
  auto* combo = static_cast<QComboBox*>(Widget());
  items_ = std::make_unique<WidgetItems<QComboBox>>(combo);
  QObject::connect(combo, &QComboBox::currentIndexChanged, Widget(), [this] {
    if (OnChange) OnChange(this);
  });
}

TComboBox::~TComboBox() = default;
TStrings& TComboBox::Items() { return *items_; }
void TComboBox::SetStyle(TComboBoxStyle style) {
  static_cast<QComboBox*>(Widget())->setEditable(style == csDropDown);
}
int TComboBox::ItemIndex() const { return static_cast<QComboBox*>(Widget())->currentIndex(); }
void TComboBox::SetItemIndex(int index) { static_cast<QComboBox*>(Widget())->setCurrentIndex(index); }
std::string TComboBox::Text() const { return FromQ(static_cast<QComboBox*>(Widget())->currentText()); }

TCheckListBox::TCheckListBox(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, parent, new QListWidget) {
  items_ = std::make_unique<WidgetItems<QListWidget>>(static_cast<QListWidget*>(Widget()));
}

TCheckListBox::~TCheckListBox() = default;
TStrings& TCheckListBox::Items() { return *items_; }

bool TCheckListBox::Checked(int index) const {
  QListWidgetItem* item = static_cast<QListWidget*>(Widget())->item(index);
  if (item == nullptr) throw kivds::EStringListError("List index out of bounds (" + std::to_string(index) + ")");
  return item->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int index, bool checked) {
  QListWidgetItem* item = static_cast<QListWidget*>(Widget())->item(index);
  if (item == nullptr) throw kivds::EStringListError("List index out of bounds (" + std::to_string(index) + ")");
  item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

TMemo::TMemo(TComponent* owner, TWinControl* parent)
    : TWinControl(owner, parent, new QPlainTextEdit) {
  auto* edit = static_cast<QPlainTextEdit*>(Widget());
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  lines_ = std::make_unique<MemoLines>(edit);
}

TMemo::~TMemo() = default;
TStrings& TMemo::Lines() { return *lines_; }
bool TMemo::ReadOnly() const { return static_cast<QPlainTextEdit*>(Widget())->isReadOnly(); }
void TMemo::SetReadOnly(bool v) { static_cast<QPlainTextEdit*>(Widget())->setReadOnly(v); }

void TMemo::SetScrollBars(TScrollStyle s) {
  auto* edit = static_cast<QPlainTextEdit*>(Widget());
  edit->setVerticalScrollBarPolicy((s == ssVertical || s == ssBoth) ? Qt::ScrollBarAlwaysOn
                                                                    : Qt::ScrollBarAlwaysOff);
  edit->setHorizontalScrollBarPolicy((s == ssHorizontal || s == ssBoth) ? Qt::ScrollBarAlwaysOn
                                                                        : Qt::ScrollBarAlwaysOff);
}

}  // namespace kivforms
