// Text controls: edit fields (one line or several) and static text.
#include "platform/controls/control_qt.h"

#include "platform/events/queue.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QValidator>

#include <optional>
#include <string>

namespace plat::controls {
namespace {

// What the text operations of controls.h need of a field.
class TextField {
public:
    virtual ~TextField() = default;
    virtual QString Content() const = 0;
    virtual void Select(int start, int end) = 0; // UTF-16 units
    virtual void Selection(int* start, int* end) const = 0;
    virtual void SetLocked(bool on) = 0;
    virtual bool Locked() const = 0;
};

void SendTextEvent(ViewRef view, uint32_t kind, const TextRange* unconfirmed)
{
    TargetRef target = ViewTarget(view);
    if (!target)
        return;
    EventPtr e = Event::Create(kEventClassTextField, kind);
    e->Set(kParamDirectObject, kTypeView, view);
    if (unconfirmed)
        e->Set(kParamUnconfirmedRange, kTypeTextRange, *unconfirmed);
    SendEvent(*e, target);
}

class LineEdit;

// Every change of a line field passes here before it is made: the field's
// handlers see the range about to be replaced and the candidate text, and
// may answer another text to insert instead.
class EditGate final : public QValidator {
public:
    EditGate(LineEdit* owner);
    State validate(QString& input, int& pos) const override;

private:
    LineEdit* owner_;
};

class LineEdit final : public QLineEdit, public ControlWidget, public TextField {
public:
    explicit LineEdit(const ControlSpec& spec)
    {
        setText(QStr(spec.title));
        if (spec.flags & kControlFlagPassword)
            setEchoMode(QLineEdit::Password);
        setReadOnly(spec.flags & kControlFlagReadOnly);
        Remember();
        setValidator(new EditGate(this));
        connect(this, &QLineEdit::textEdited, [this](const QString& now) {
            if (now != lastText)
                SendTextEvent(view, kEventTextDidChange, nullptr);
        });
        connect(this, &QLineEdit::textChanged, [this] { Remember(); });
        // An input method moves the cursor before its text is checked: only
        // moves over the text as it stands count.
        connect(this, &QLineEdit::selectionChanged, [this] { RememberSelection(); });
        connect(this, &QLineEdit::cursorPositionChanged, [this] { RememberSelection(); });
        connect(this, &QLineEdit::returnPressed, [this] { SendTextEvent(view, kEventTextAccepted, nullptr); });
    }
    QWidget* Widget() override { return this; }
    // While an edit is asked about, the field still holds the text before
    // it (the widget already shows the candidate).
    Text Title() const override { return TextOf(asking ? lastText : text()); }
    bool SetTitle(const Text& t) override
    {
        programmatic = true;
        setText(QStr(t));
        programmatic = false;
        Remember();
        return true;
    }
    QString Content() const override { return text(); }
    void Select(int start, int end) override
    {
        QSignalBlocker block(this);
        setSelection(start, end - start);
        Remember();
    }
    void Selection(int* start, int* end) const override
    {
        *start = hasSelectedText() ? selectionStart() : cursorPosition();
        *end = hasSelectedText() ? selectionEnd() : cursorPosition();
    }
    void SetLocked(bool on) override { setReadOnly(on); }
    bool Locked() const override { return isReadOnly(); }

    // The text and selection an edit starts from.
    void Remember()
    {
        lastText = text();
        Selection(&lastStart, &lastEnd);
    }
    void RememberSelection()
    {
        if (text() == lastText)
            Selection(&lastStart, &lastEnd);
    }

    QString lastText;
    int lastStart = 0;
    int lastEnd = 0;
    bool programmatic = false;
    bool asking = false;             // an edit is being asked about
    std::optional<QString> expected; // the text a handler's answer makes

protected:
    void inputMethodEvent(QInputMethodEvent* e) override
    {
        QLineEdit::inputMethodEvent(e);
        if (e->preeditString().isEmpty())
            return;
        const QString t = text();
        TextRange r;
        r.location = CodePointsBefore(t, cursorPosition());
        r.length = CodePointsBefore(e->preeditString(), static_cast<int>(e->preeditString().size()));
        SendTextEvent(view, kEventTextDidChange, &r);
    }
};

EditGate::EditGate(LineEdit* owner) : QValidator(owner), owner_(owner) {}

QValidator::State EditGate::validate(QString& input, int& pos) const
{
    LineEdit& f = *owner_;
    if (f.programmatic)
        return Acceptable;
    if (f.expected) {
        const bool applying = *f.expected == input;
        f.expected.reset();
        if (applying)
            return Acceptable;
    }
    const QString old = f.lastText;
    if (input == old)
        return Acceptable;
    // The range replaced: the selection (or the cursor) when the new text
    // is the old one with something in its place, else the part where the
    // two differ.
    int start = f.lastStart;
    int end = f.lastEnd;
    const int tail = static_cast<int>(old.size()) - end;
    const bool fits = start <= input.size() && tail <= input.size() - start && input.left(start) == old.left(start) &&
                      input.right(tail) == old.right(tail);
    if (!fits) {
        int p = 0;
        while (p < old.size() && p < input.size() && old.at(p) == input.at(p))
            ++p;
        if (p > 0 && old.at(p - 1).isHighSurrogate())
            --p;
        int s = 0;
        while (s < old.size() - p && s < input.size() - p &&
               old.at(old.size() - 1 - s) == input.at(input.size() - 1 - s))
            ++s;
        if (s > 0 && old.at(old.size() - s).isLowSurrogate())
            --s;
        start = p;
        end = static_cast<int>(old.size()) - s;
    }
    const int tailNow = static_cast<int>(old.size()) - end;
    const QString candidate = input.mid(start, input.size() - start - tailNow);

    TargetRef target = ViewTarget(f.view);
    if (!target)
        return Acceptable;
    EventPtr e = Event::Create(kEventClassTextField, kEventTextShouldChangeInRange);
    e->Set(kParamDirectObject, kTypeView, f.view);
    TextRange range;
    range.location = CodePointsBefore(old, start);
    range.length = CodePointsBefore(old, end) - range.location;
    e->Set(kParamTextRange, kTypeTextRange, range);
    const QList<uint> units = candidate.toUcs4();
    std::u32string cand(units.begin(), units.end());
    e->SetParam(kParamText, kTypeUTF32, cand.data(), cand.size() * sizeof(char32_t));
    f.asking = true;
    const Status answered = SendEvent(*e, target);
    f.asking = false;
    if (answered != kNoErr)
        return Acceptable;
    // Taken: the handler's answer goes in instead (nothing without one).
    size_t bytes = 0;
    std::u32string answer;
    if (e->GetParamBytes(kParamReplacementText, kTypeUTF32, nullptr, 0, &bytes) == kNoErr && bytes) {
        answer.resize(bytes / sizeof(char32_t));
        e->GetParamBytes(kParamReplacementText, kTypeUTF32, answer.data(), answer.size() * sizeof(char32_t));
    }
    const QString replacement = QString::fromUcs4(answer.data(), static_cast<qsizetype>(answer.size()));
    const QString proposed = input;
    input = old.left(start) + replacement + old.mid(end);
    pos = start + static_cast<int>(replacement.size());
    if (input != proposed)
        f.expected = input;
    return Acceptable;
}

class PlainText final : public QPlainTextEdit, public ControlWidget, public TextField {
public:
    explicit PlainText(const ControlSpec& spec)
    {
        setPlainText(QStr(spec.title));
        setReadOnly(spec.flags & kControlFlagReadOnly);
        connect(this, &QPlainTextEdit::textChanged, [this] { SendTextEvent(view, kEventTextDidChange, nullptr); });
    }
    QWidget* Widget() override { return this; }
    Text Title() const override { return TextOf(toPlainText()); }
    bool SetTitle(const Text& t) override
    {
        setPlainText(QStr(t));
        return true;
    }
    QString Content() const override { return toPlainText(); }
    void Select(int start, int end) override
    {
        QSignalBlocker block(this);
        QTextCursor c = textCursor();
        c.setPosition(start);
        c.setPosition(end, QTextCursor::KeepAnchor);
        setTextCursor(c);
    }
    void Selection(int* start, int* end) const override
    {
        *start = textCursor().selectionStart();
        *end = textCursor().selectionEnd();
    }
    void SetLocked(bool on) override { setReadOnly(on); }
    bool Locked() const override { return isReadOnly(); }
};

class StaticText final : public QLabel, public ControlWidget {
public:
    explicit StaticText(const ControlSpec& spec)
    {
        setText(QStr(spec.title));
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    QWidget* Widget() override { return this; }
    Text Title() const override { return TextOf(text()); }
    bool SetTitle(const Text& t) override
    {
        setText(QStr(t));
        return true;
    }
};

TextField* FieldOf(ViewRef view)
{
    return dynamic_cast<TextField*>(ControlOf(view));
}

} // namespace

ControlWidget* CreateTextControl(const ControlSpec& spec)
{
    switch (spec.kind) {
    case kControlKindEditUnicodeText:
    case kControlKindEditText:
        if (spec.flags & kControlFlagMultiline)
            return new PlainText(spec);
        return new LineEdit(spec);
    case kControlKindStaticText:
        return new StaticText(spec);
    default:
        return nullptr;
    }
}

} // namespace plat::controls

namespace plat {

using namespace controls;

Status SetTextSelection(ViewRef view, int32_t start, int32_t end)
{
    TextField* f = FieldOf(view);
    if (!f)
        return bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    const QString t = f->Content();
    const int s = UnitsBefore(t, std::max(0, start));
    const int e = UnitsBefore(t, std::max(start, end));
    f->Select(s, e);
    return kNoErr;
}

Status GetTextSelection(ViewRef view, int32_t* start, int32_t* end)
{
    TextField* f = FieldOf(view);
    if (!f)
        return bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    int s = 0;
    int e = 0;
    f->Selection(&s, &e);
    const QString t = f->Content();
    if (start)
        *start = CodePointsBefore(t, s);
    if (end)
        *end = CodePointsBefore(t, e);
    return kNoErr;
}

Status SetTextReadOnly(ViewRef view, bool on)
{
    TextField* f = FieldOf(view);
    if (!f)
        return bridge::GetViewRec(view) ? kErrBadArgument : kErrTargetGone;
    f->SetLocked(on);
    return kNoErr;
}

bool IsTextReadOnly(ViewRef view)
{
    TextField* f = FieldOf(view);
    return f && f->Locked();
}

Status SimulateInputMethod(ViewRef view, const std::u32string& preedit, const std::u32string& commit)
{
    ControlWidget* c = ControlOf(view);
    if (!c || !FieldOf(view))
        return c || !bridge::GetViewRec(view) ? kErrTargetGone : kErrBadArgument;
    QWidget* w = c->Widget();
    const QString pre = QString::fromUcs4(preedit.data(), static_cast<qsizetype>(preedit.size()));
    QList<QInputMethodEvent::Attribute> attrs;
    attrs << QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, static_cast<int>(pre.size()), 1, QVariant());
    QInputMethodEvent composing(pre, attrs);
    QCoreApplication::sendEvent(w, &composing);
    if (!ViewTarget(view))
        return kErrTargetGone;
    QInputMethodEvent done(QString(), {});
    done.setCommitString(QString::fromUcs4(commit.data(), static_cast<qsizetype>(commit.size())));
    QCoreApplication::sendEvent(w, &done);
    return kNoErr;
}

} // namespace plat
