// The Qt adaptor: a widget for every created window, following the model,
// and Qt input turned into queued events. It never calls program code: a
// close request, a drag, a lost focus or a key only queue an event, so
// pumping Qt is safe anywhere. Changes made on a thread other than Qt's
// travel as snapshots, posted to the Qt thread without waiting.
#include <cstdlib>

#include <QAbstractEventDispatcher>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcutEvent>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <atomic>
#include <cstdio>
#include <map>
#include <set>

#include "kivqt/qt.h"
#include "kivwin/win.h"
#include "model.h"
#include "qtside.h"
#include "xbp/testing.h"

namespace xbp {

// ------------------------------------------------------------ coordinates
QRect QtRect(double x, double y, double w, double h, double parentHeight) {
    auto px = [](double d) { return static_cast<int>(d); };  // truncated, as the model's values are
    return QRect(px(x), px(parentHeight) - px(y) - px(h), px(w), px(h));
}

xpp::Array ModelPixel(const QPoint& p, int height) { return xpp::Array{p.x(), height - 1 - p.y()}; }

QFont QtFont(const std::string& compoundName) {
    int points = 8;
    std::string family;
    if (!ParseFontCompoundName(compoundName, points, family) || points <= 0) points = 8;
    QString name = kivqt::ToQ(family);
    if (name.isEmpty() || !QFontDatabase::families().contains(name, Qt::CaseInsensitive)) name = "DejaVu Sans";
    QFont font(name);
    font.setPointSize(points);
    return font;
}

bool OnQtThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// The model's own view of a window, for the adaptor.
struct WindowAccess {
    // The absolute origin of the window's client area, in desktop terms.
    static void ClientOrigin(const Window& w, double& x, double& y) { w.ClientOrigin(x, y); }
};

namespace {

// What a widget shows of its window, taken on the thread that changed it.
struct Snapshot {
    uint64_t serial = 0, parent = 0, seq = 0;
    std::string kind;
    bool created = false, visible = false, topLevel = false;
    QRect rect;
    int64_t background = -1;
    std::string font;
    int modal = 1;
    std::string title;
    bool titleBar = true, sysMenu = true;
    std::string text;
    size_t caret = 0;
    std::vector<std::string> items;
    int64_t opened = 0;  // the item opened last, and how often one was
    uint64_t openings = 0;
    std::weak_ptr<Window> self;
};

std::string TextOf(const xpp::Value& v) { return v.IsChar() ? v.Str() : std::string(); }

std::atomic<uint64_t> g_seq{0};

Snapshot Snap(const Window& w) {
    std::lock_guard g(TreeLock());
    Snapshot s;
    s.seq = ++g_seq;  // under the tree lock: a later number is a later state
    s.serial = w.Serial();
    s.kind = w.BaseName();
    s.created = w.IsCreated();
    s.visible = w.IsVisible();
    s.self = std::const_pointer_cast<Window>(std::static_pointer_cast<const Window>(w.shared_from_this()));
    auto parent = const_cast<Window&>(w).SetParent().As<Window>();
    const bool frame = s.kind == "XbpBaseDialog" || s.kind == "XbpBaseCrt";
    s.topLevel = !parent || dynamic_cast<Desktop*>(parent.get()) != nullptr || frame;
    if (parent && !s.topLevel) s.parent = parent->Serial();
    xpp::Array pos = w.CurrentPos();
    double cx, cy, cw, ch;
    w.ClientArea(cx, cy, cw, ch);
    double px = 0, py = 0, pw = 0, ph = 0;
    if (s.topLevel) {
        // a frame window sits on the screen: over its parent window (the
        // application window of a dialog made on it), where the parent is
        double ox = 0, oy = 0;
        WindowAccess::ClientOrigin(w, ox, oy);
        AppDesktop()->ClientArea(px, py, pw, ph);
        s.rect = QtRect(ox, oy, cw, ch, ph);
    } else {
        parent->ClientArea(px, py, pw, ph);
        s.rect = QtRect(pos.Get(1).Dbl() + cx, pos.Get(2).Dbl() + cy, cw, ch, ph);
    }
    xpp::Value bg = w.ColorBG();
    if (bg.IsNum()) s.background = GraColorRGB(bg.Int());
    s.font = w.FontCompoundName();
    s.modal = w.ModalState();
    if (auto* d = dynamic_cast<const XbpBaseDialog*>(&w)) {
        s.title = TextOf(d->title);
        s.titleBar = d->titleBar.Log();
        s.sysMenu = d->sysMenu.Log();
    } else if (auto* c = dynamic_cast<const XbpBaseCrt*>(&w)) {
        s.title = TextOf(c->title);
    } else if (auto* st = dynamic_cast<const XbpBaseStatic*>(&w)) {
        s.text = TextOf(st->caption);
    } else if (auto* sle = dynamic_cast<const XbpBaseSLE*>(&w)) {
        s.text = sle->Text();
    } else if (auto* mle = dynamic_cast<const XbpBaseMLE*>(&w)) {
        s.text = mle->EditBuffer().Str();
        s.caret = mle->Caret();
    } else if (auto* menu = dynamic_cast<const MenuItems*>(&w)) {
        for (int64_t i = 1; i <= menu->NumItems(); ++i) {
            xpp::Value item = menu->GetItem(i);
            xpp::Value caption = item.IsArray() ? item.Arr().Get(1) : xpp::Value();
            if (auto sub = caption.As<XbpBaseMenu>()) caption = sub->title;
            s.items.push_back(TextOf(caption));
        }
        s.opened = menu->OpenedItem(&s.openings);
    }
    return s;
}

// Queues an event for a window from Qt input.
void Queue(const std::weak_ptr<Window>& window, int event, const xpp::Value& mp1 = {},
           const xpp::Value& mp2 = {}) {
    if (auto w = window.lock()) PostAppEvent(event, mp1, mp2, xpp::Value(w));
}

// ------------------------------------------------------------------ widgets
// A frame window: a close request is refused and queued.
template <class Base>
class Frame : public Base {
public:
    using Base::Base;
    std::weak_ptr<Window> closeTarget;

protected:
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        Queue(closeTarget, xbeP_Close);
    }
};

std::shared_ptr<DragData> DragDataOf(const QMimeData* mime) {
    std::optional<std::string> text;
    std::vector<std::string> files;
    if (mime) {
        if (mime->hasFormat("text/plain")) text = kivqt::FromQ(mime->text());
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile()) files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return DragData::New(std::move(text), std::move(files));
}

// Drags are accepted at once (the program answers later through the
// queue) and queued; the widget's own drop handling stays out.
template <class Base>
class DropTarget : public Base {
public:
    template <class... A>
    explicit DropTarget(A&&... a) : Base(std::forward<A>(a)...) {
        this->setAcceptDrops(true);
    }
    std::weak_ptr<Window> window;

protected:
    void dragEnterEvent(QDragEnterEvent* e) override {
        data_ = DragDataOf(e->mimeData());
        e->acceptProposedAction();
        Send(xbeP_DragEnter, e->position().toPoint(), e->modifiers());
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        e->acceptProposedAction();
        Send(xbeP_DragMotion, e->position().toPoint(), e->modifiers());
    }
    void dragLeaveEvent(QDragLeaveEvent* e) override { e->accept(); }
    void dropEvent(QDropEvent* e) override {
        if (!data_) data_ = DragDataOf(e->mimeData());
        e->acceptProposedAction();
        Send(xbeP_DragDrop, e->position().toPoint(), e->modifiers());
        data_.reset();
    }
    void focusOutEvent(QFocusEvent* e) override {
        Base::focusOutEvent(e);
        if (focusLossQueued) Queue(window, xbeP_KillInputFocus);
    }

public:
    bool focusLossQueued = false;

private:
    // The drag state: {keyboard state, {x, y} in pixels from the bottom left}.
    void Send(int event, const QPoint& at, Qt::KeyboardModifiers mods) {
        int keys = (mods & Qt::ShiftModifier ? 1 : 0) | (mods & Qt::ControlModifier ? 2 : 0) |
                   (mods & Qt::AltModifier ? 4 : 0);
        QWidget* area = this;
        if (auto* scroll = qobject_cast<QAbstractScrollArea*>(this)) area = scroll->viewport();
        Queue(window, event, xpp::Array{keys, ModelPixel(at, area->height())}, xpp::Value(data_));
    }
    std::shared_ptr<DragData> data_;
};

// A spin box that keeps the text as typed: no re-formatting when the focus
// leaves; the arrows step the number within the limits.
class SpinBox : public QAbstractSpinBox {
public:
    std::weak_ptr<Window> window;
    int64_t lower = 0, upper = 100;
    QLineEdit* Edit() const { return lineEdit(); }
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
    void stepBy(int steps) override {
        int64_t n = std::clamp<int64_t>(lineEdit()->text().toLongLong() + steps, lower, upper);
        lineEdit()->setText(QString::number(n));
        UserEdit();
    }
    void UserEdit() {
        if (auto w = std::dynamic_pointer_cast<XbpBaseSLE>(window.lock())) w->SetText(kivqt::FromQ(lineEdit()->text()));
    }

protected:
    void focusOutEvent(QFocusEvent* e) override {
        QWidget::focusOutEvent(e);
        QCoreApplication::sendEvent(lineEdit(), e);  // the edit stops showing its caret
        lineEdit()->deselect();
        Queue(window, xbeP_KillInputFocus);
    }
};

// A menu caption as Qt shows it: "~" marks the character to underline (an
// "&" then shows as itself); without "~", "&" marks it.
QString MenuCaption(const std::string& caption) {
    const QString text = kivqt::ToQ(caption);
    const qsizetype tilde = text.indexOf('~');
    if (tilde < 0) return text;
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == tilde) {
            if (i + 1 < text.size()) out += '&';
            continue;
        }
        if (text[i] == '&') out += '&';
        out += text[i];
    }
    return out;
}

class MenuBar : public QMenuBar {
public:
    std::weak_ptr<Window> window;

protected:
    // Alt with a marked character reaches OnMenuKey through the queue, as a
    // key on the active bar does; Qt itself opens nothing.
    bool event(QEvent* e) override {
        if (e->type() == QEvent::Shortcut) {
            const QKeySequence seq = static_cast<QShortcutEvent*>(e)->key();
            const int code = seq.isEmpty() ? 0 : seq[0].key();
            if (code >= Qt::Key_A && code <= Qt::Key_Z) Queue(window, xbeP_MenuKey, 'a' + (code - Qt::Key_A));
            else if (code >= 0x20 && code < 0x7F) Queue(window, xbeP_MenuKey, code);
            return true;
        }
        return QMenuBar::event(e);
    }
    void keyPressEvent(QKeyEvent* e) override {
        QString t = e->text();
        int key = t.size() == 1 ? static_cast<unsigned char>(kivqt::FromQ(t)[0]) : e->key();
        Queue(window, xbeP_MenuKey, key);
        e->accept();
    }
};

// A CRT window: shows its presentation space, pixel for pixel.
class CrtWidget : public DropTarget<Frame<QWidget>> {
public:
    std::weak_ptr<Window> crt;

protected:
    void paintEvent(QPaintEvent*) override {
        auto w = std::dynamic_pointer_cast<XbpBaseCrt>(crt.lock());
        if (!w) return;
        QPainter p(this);
        p.drawImage(0, 0, w->presSpace()->Image());
    }
};

// ------------------------------------------------------------------ adaptor
class Adaptor : public QObject, public Observer {
public:
    void Changed(const Window& w) override {
        if (dynamic_cast<const Desktop*>(&w)) return;
        {
            std::lock_guard g(lock_);
            if (!w.IsCreated() && !announced_.count(w.Serial())) return;
            if (w.IsCreated()) announced_.insert(w.Serial());
            else announced_.erase(w.Serial());
        }
        Snapshot s = Snap(w);
        if (OnQtThread()) Apply(s);
        else QMetaObject::invokeMethod(this, [this, s] { Apply(s); }, Qt::QueuedConnection);
    }

    void Gone(uint64_t serial) override {
        {
            std::lock_guard g(lock_);
            if (!announced_.erase(serial)) return;
        }
        if (OnQtThread()) Remove(serial, true);
        else QMetaObject::invokeMethod(this, [this, serial] { Remove(serial, true); }, Qt::QueuedConnection);
    }

    void Focused(const Window& w) override {
        uint64_t serial = w.Serial();
        if (OnQtThread()) Focus(serial);
        else QMetaObject::invokeMethod(this, [this, serial] { Focus(serial); }, Qt::QueuedConnection);
    }

    QWidget* Widget(uint64_t serial) const {
        auto it = widgets_.find(serial);
        return it == widgets_.end() ? nullptr : it->second.data();
    }

    void DeleteWidgets() {
        std::vector<QPointer<QWidget>> all;
        for (auto& [serial, w] : widgets_) all.push_back(w);
        widgets_.clear();
        for (auto& w : all) delete w.data();
    }

    int Count() const {
        int n = 0;
        for (auto& [serial, w] : widgets_) n += w ? 1 : 0;
        return n;
    }

private:
    // The application's focus as Qt's keyboard focus, in the widget's window.
    void Focus(uint64_t serial) {
        QWidget* w = Widget(serial);
        if (!w) return;
        w->window()->activateWindow();
        w->setFocus(Qt::OtherFocusReason);
    }

    // A destroyed window's number stays, so that older pictures still on
    // their way cannot bring its widget back; a window object that is gone
    // sends none any more.
    void Remove(uint64_t serial, bool gone) {
        pending_.erase(serial);
        if (gone) lastSeq_.erase(serial);
        auto it = widgets_.find(serial);
        if (it == widgets_.end()) return;
        QPointer<QWidget> w = it->second;
        widgets_.erase(it);
        delete w.data();
    }

    void Apply(const Snapshot& s) {
        if (s.created && s.self.expired()) return;  // the window object is gone
        uint64_t& last = lastSeq_[s.serial];
        if (s.seq < last) return;  // an older picture, overtaken
        last = s.seq;
        if (!s.created) {
            Remove(s.serial, false);
            return;
        }
        QWidget* w = Widget(s.serial);
        if (!w) {
            QWidget* parent = nullptr;
            if (!s.topLevel) {
                parent = Widget(s.parent);
                if (!parent) {
                    pending_[s.serial] = s;  // the parent's widget comes later
                    return;
                }
            }
            w = Make(s, parent);
            if (!w) return;
            widgets_[s.serial] = w;
            pending_.erase(s.serial);
            Update(w, s);
            std::vector<Snapshot> waiting;
            for (auto& [serial, p] : pending_)
                if (p.parent == s.serial) waiting.push_back(p);
            for (auto& p : waiting) {
                pending_.erase(p.serial);
                Apply(p);
            }
            return;
        }
        Update(w, s);
    }

    static QWidget* Make(const Snapshot& s, QWidget* parent) {
        const std::string& k = s.kind;
        QWidget* w = nullptr;
        if (k == "XbpBaseDialog") {
            auto* f = new Frame<QWidget>(parent, Qt::Window);
            f->closeTarget = s.self;
            w = f;
        } else if (k == "XbpBaseCrt") {
            auto* c = new CrtWidget();
            c->setParent(parent, Qt::Window);
            c->closeTarget = c->window = c->crt = s.self;
            c->focusLossQueued = false;
            w = c;
        } else if (k == "XbpDrawingArea" || k == "XbpBaseTabPage") {
            w = new QWidget(parent);
        } else if (k == "XbpBaseStatic") {
            auto* l = new QLabel(parent);
            l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            w = l;
        } else if (k == "XbpBaseSpinbutton") {
            auto* sb = new SpinBox();
            sb->setParent(parent);
            sb->window = s.self;
            QObject::connect(sb->Edit(), &QLineEdit::textEdited, sb, [sb] { sb->UserEdit(); });
            w = sb;
        } else if (k == "XbpBaseSLE") {
            auto* e = new DropTarget<QLineEdit>(parent);
            e->window = s.self;
            e->focusLossQueued = true;
            auto self = s.self;
            auto user = [e, self] {
                auto sle = std::dynamic_pointer_cast<XbpBaseSLE>(self.lock());
                if (!sle) return;
                sle->SetText(kivqt::FromQ(e->text()));
                int from = e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
                int to = e->hasSelectedText() ? e->selectionEnd() : e->cursorPosition();
                sle->SetMarked(static_cast<size_t>(from), static_cast<size_t>(to));
            };
            QObject::connect(e, &QLineEdit::textEdited, e, user);
            QObject::connect(e, &QLineEdit::selectionChanged, e, user);
            QObject::connect(e, &QLineEdit::cursorPositionChanged, e, user);
            w = e;
        } else if (k == "XbpBaseMLE") {
            auto* e = new DropTarget<QPlainTextEdit>(parent);
            e->window = s.self;
            e->focusLossQueued = true;
            auto self = s.self;
            auto user = [e, self] {
                if (e->property("xbpApplying").toBool()) return;
                if (auto mle = std::dynamic_pointer_cast<XbpBaseMLE>(self.lock()))
                    mle->SetText(kivqt::FromQ(e->toPlainText()), static_cast<size_t>(e->textCursor().position()));
            };
            // a moved insertion point is an edit of the user's too
            QObject::connect(e, &QPlainTextEdit::textChanged, e, user);
            QObject::connect(e, &QPlainTextEdit::cursorPositionChanged, e, user);
            w = e;
        } else if (k == "XbpBaseMenubar") {
            auto* m = new MenuBar();
            m->setParent(parent);
            m->window = s.self;
            w = m;
        } else if (k == "XbpBaseCombobox") {
            w = new QComboBox(parent);
        } else if (k == "XbpBaseListBox") {
            w = new QListWidget(parent);
        } else if (k == "XbpBasePushButton") {
            w = new QPushButton(parent);
        } else if (k == "XbpBaseTreeView") {
            w = new QTreeView(parent);
        } else if (k == "XbpBase3State") {
            auto* c = new QCheckBox(parent);
            c->setTristate(true);
            w = c;
        } else if (k == "XbpBaseScrollBar") {
            w = new QScrollBar(s.rect.width() > s.rect.height() ? Qt::Horizontal : Qt::Vertical, parent);
        } else if (k == "XbpBaseCheckBox") {
            w = new QCheckBox(parent);
        } else if (k == "XbpBaseRadioButton") {
            w = new QRadioButton(parent);
        }
        return w;
    }

    static void Update(QWidget* w, const Snapshot& s) {
        const std::string& k = s.kind;
        if (k == "XbpBaseDialog" || k == "XbpBaseCrt") {
            w->setWindowTitle(kivqt::ToQ(s.title));
            Qt::WindowFlags flags = Qt::Window;
            if (!s.titleBar) flags |= Qt::FramelessWindowHint;
            else if (!s.sysMenu) flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;  // no close button
            Qt::WindowModality modality = s.modal == 2 ? Qt::ApplicationModal : Qt::NonModal;
            const int applied = static_cast<int>(flags.toInt()) * 4 + static_cast<int>(modality);
            if (w->property("xbpFrame") != QVariant(applied)) {
                // Qt takes flags and modality only while the window is hidden
                w->hide();
                w->setWindowFlags(flags);
                w->setWindowModality(modality);
                w->setProperty("xbpFrame", applied);
            }
        }
        w->setGeometry(s.rect);
        if (s.background >= 0) {
            QPalette pal = w->palette();
            QColor c(static_cast<QRgb>(s.background));
            pal.setColor(QPalette::Window, c);
            pal.setColor(QPalette::Base, c);
            w->setPalette(pal);
            w->setAutoFillBackground(true);
        }
        if (!s.font.empty()) w->setFont(QtFont(s.font));
        if (k == "XbpBaseDialog" || k == "XbpBaseCrt") {
            w->update();  // a CRT shows its space anew
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            l->setText(kivqt::ToQ(s.text));
        } else if (auto* sb = dynamic_cast<SpinBox*>(w)) {
            auto self = std::dynamic_pointer_cast<XbpBaseSpinbutton>(s.self.lock());
            if (self) self->NumLimits(sb->lower, sb->upper);
            if (sb->Edit()->text() != kivqt::ToQ(s.text)) sb->Edit()->setText(kivqt::ToQ(s.text));
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (e->text() != kivqt::ToQ(s.text)) e->setText(kivqt::ToQ(s.text));
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            if (m->toPlainText() != kivqt::ToQ(s.text)) {
                m->setProperty("xbpApplying", true);
                m->setPlainText(kivqt::ToQ(s.text));
                QTextCursor c = m->textCursor();
                c.setPosition(std::min<int>(static_cast<int>(s.caret), static_cast<int>(m->toPlainText().size())));
                m->setTextCursor(c);
                m->setProperty("xbpApplying", false);
            }
        } else if (auto* scroll = qobject_cast<QScrollBar*>(w)) {
            // horizontal when wider than high
            scroll->setOrientation(s.rect.width() > s.rect.height() ? Qt::Horizontal : Qt::Vertical);
        } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            const bool sameCaptions = [&] {
                if (bar->actions().size() != static_cast<qsizetype>(s.items.size())) return false;
                for (size_t i = 0; i < s.items.size(); ++i)
                    if (bar->actions()[static_cast<qsizetype>(i)]->text() != MenuCaption(s.items[i])) return false;
                return true;
            }();
            if (!sameCaptions) {
                bar->clear();
                for (auto& item : s.items) bar->addAction(MenuCaption(item));
            }
            const QVariant openings = QVariant::fromValue<qulonglong>(s.openings);
            if (bar->property("xbpOpenings") != openings) {
                bar->setProperty("xbpOpenings", openings);
                if (s.opened >= 1 && s.opened <= bar->actions().size())
                    bar->setActiveAction(bar->actions()[static_cast<qsizetype>(s.opened - 1)]);
            }
        }
        if (w->isHidden() == s.visible) w->setVisible(s.visible);
    }

    std::mutex lock_;
    std::set<uint64_t> announced_;  // windows with a widget, or one on its way
    // On the Qt thread only:
    std::map<uint64_t, QPointer<QWidget>> widgets_;
    std::map<uint64_t, uint64_t> lastSeq_;
    std::map<uint64_t, Snapshot> pending_;
};

Adaptor* g_adaptor = nullptr;  // made once, on the Qt thread; never taken down

// Alert and ConfirmBox as Qt message boxes.
class QtSink : public xpp::PresentationSink {
public:
    int ConfirmBox(const xpp::Value&, const std::string& text, const std::string& title, int buttons,
                   int style) override {
        unsigned flags = (static_cast<unsigned>(buttons) & kivwin::MB_TYPEMASK) |
                         (static_cast<unsigned>(style) & kivwin::MB_ICONMASK);
        if (!OnQtThread()) return Console(title, text);
        return kivqt::MessageBox(text, title, flags);
    }
    int Alert(const std::string& text, const xpp::Array&) override {
        std::string lines = text;
        for (char& c : lines)
            if (c == ';') c = '\n';
        if (!OnQtThread()) return Console("", lines);
        kivqt::MessageBox(lines, "", kivwin::MB_OK | kivwin::MB_ICONWARNING);
        return 1;
    }

private:
    // A box cannot be shown off the Qt thread: the text goes to standard
    // error, as a console program's would.
    static int Console(const std::string& title, const std::string& text) {
        std::fprintf(stderr, "%s%s%s\n", title.c_str(), title.empty() ? "" : ": ", text.c_str());
        return xpp::XBMB_RET_OK;
    }
};

void SleepPainting(int64_t hundredths, bool systemClock, const std::function<void(int64_t)>& sleep) {
    if (!OnQtThread()) return sleep(hundredths);
    QCoreApplication::processEvents();
    if (!systemClock) {
        // a test clock returns at once (and runs what the test put there)
        sleep(hundredths);
        QCoreApplication::processEvents();
        return;
    }
    if (hundredths <= 0) return;
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(hundredths * 10), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// When the Qt application goes (a program or a test main that made it
// takes it down), the model stops reaching Qt.
void Detach() {
    SetObserver(nullptr);
    detail::SetPump(nullptr);
    xpp::SetSleepWrapper(nullptr);
    delete g_adaptor;
    g_adaptor = nullptr;
}

// When the process ends with the application still up, windows that
// statics let go of afterwards must not take their widgets down: Qt's own
// statics may be gone already. The widgets go with the process.
void AtProcessEnd() { SetObserver(nullptr); }

void Announce(const WindowRef& w) {
    if (w->IsCreated()) Changed(*w);
    for (auto& c : w->Children()) Announce(c);
}

}  // namespace

bool QtRunning() { return g_adaptor != nullptr && qobject_cast<QApplication*>(QCoreApplication::instance()); }

bool StartApplication(const xpp::Value& appWindow) {
    if (!QCoreApplication::instance()) {
        kivqt::UseOffscreenWithoutDisplay();
        // One application per process, for the life of the process: Qt
        // cannot be taken down and set up again safely.
        static int argc = 1;
        static char name[] = "xbp";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || !OnQtThread()) return false;
    if (!g_adaptor) {
        g_adaptor = new Adaptor();
        QObject::connect(QCoreApplication::instance(), &QObject::destroyed, &Detach);
        static QtSink* sink = new QtSink;  // outlives every static that might still raise a box
        xpp::PresentationSink* before = xpp::SetPresentationSink(sink);
        if (before) xpp::SetPresentationSink(before);  // a sink installed already stays
        if (QScreen* screen = QGuiApplication::primaryScreen())
            AppDesktop()->Place(xpp::Array{0, 0}, xpp::Array{screen->geometry().width(), screen->geometry().height()});
        SetObserver(g_adaptor);
        Announce(AppDesktop());
        // registered after the desktop was made, so that it runs before the
        // desktop (and its list of windows) is destroyed
        static const bool registered = std::atexit(&AtProcessEnd) == 0;
        (void)registered;
    }
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    detail::SetPump(
        [] {
            if (!OnQtThread()) return false;
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            return true;
        },
        [dispatcher] {
            if (dispatcher) dispatcher->wakeUp();
        });
    xpp::SetSleepWrapper(&SleepPainting);
    xpp::SetAppType(xpp::APPTYPE_PM);
    if (appWindow.IsObject()) xpp::SetAppWindow(appWindow);
    return true;
}

namespace testing {

QWidget* WidgetOf(const WindowRef& window) {
    if (!g_adaptor || !window) return nullptr;
    QCoreApplication::sendPostedEvents(g_adaptor);
    return g_adaptor->Widget(window->Serial());
}

int WidgetCount() {
    if (!g_adaptor) return 0;
    QCoreApplication::sendPostedEvents(g_adaptor);
    return g_adaptor->Count();
}

QImage Grab(const WindowRef& window) {
    QWidget* w = WidgetOf(window);
    return w ? w->grab().toImage() : QImage();
}

bool GrabToPng(const WindowRef& window, const std::string& path) {
    QImage image = Grab(window);
    return !image.isNull() && image.save(QString::fromStdString(path), "PNG");
}

}  // namespace testing

}  // namespace xbp
