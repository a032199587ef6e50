#include "platform/dialogs/filedialogs.h"

#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"
#include "platform/services/resources.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMimeDatabase>
#include <QPointer>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace plat {
namespace {

QString Q(std::string const& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

std::string S(QString const& s)
{
    return s.toUtf8().toStdString();
}

// A responder that keeps a dialog open forever would keep the test in it;
// after this many answers the dialog is cancelled.
constexpr int kMaxAnswers = 50;

// Lists the files the caller's filter lets through; folders always.
class TypeFilterProxy : public QSortFilterProxyModel {
public:
    explicit TypeFilterProxy(std::function<bool(std::string const&)> const& filter, QObject* parent)
        : QSortFilterProxyModel(parent), fFilter(filter)
    {
    }
    void Refilter() { invalidateFilter(); }

protected:
    bool filterAcceptsRow(int row, QModelIndex const& parent) const override
    {
        auto* model = qobject_cast<QFileSystemModel*>(sourceModel());
        if (!model || !fFilter)
            return true;
        QModelIndex const index = model->index(row, 0, parent);
        if (model->isDir(index))
            return true;
        return fFilter(S(model->filePath(index)));
    }

private:
    std::function<bool(std::string const&)> const& fFilter;
};

class FileDialog : public QFileDialog {
public:
    FileDialog(FileDialogSpec const& spec, QWidget* parent) : QFileDialog(parent), fSpec(spec)
    {
        setOption(QFileDialog::DontUseNativeDialog, true);
        setOption(QFileDialog::DontConfirmOverwrite, true); // approve asks, after the name is complete
        setWindowModality(Qt::ApplicationModal);
        setWindowTitle(Q(spec.title));
        switch (spec.kind) {
        case FileDialogKind::Open:
            setAcceptMode(QFileDialog::AcceptOpen);
            setFileMode(spec.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
            break;
        case FileDialogKind::Save:
            setAcceptMode(QFileDialog::AcceptSave);
            setFileMode(QFileDialog::AnyFile);
            break;
        case FileDialogKind::ChooseFolder:
            setAcceptMode(QFileDialog::AcceptOpen);
            setFileMode(QFileDialog::Directory);
            setOption(QFileDialog::ShowDirsOnly, true);
            break;
        }
        if (spec.showHidden)
            setFilter(filter() | QDir::Hidden);
        struct {
            std::string const& text;
            QFileDialog::DialogLabel label;
        } const labels[] = {{spec.labels.lookIn, QFileDialog::LookIn},
                            {spec.labels.fileName, QFileDialog::FileName},
                            {spec.labels.fileType, QFileDialog::FileType},
                            {spec.labels.accept, QFileDialog::Accept},
                            {spec.labels.reject, QFileDialog::Reject}};
        for (auto const& l : labels)
            if (!l.text.empty())
                setLabelText(l.label, Q(l.text));

        if (auto* files = findChild<QFileSystemModel*>()) {
            connect(files, &QFileSystemModel::directoryLoaded, this,
                    [this](QString const& path) { fLoaded.insert(QFileInfo(path).absoluteFilePath()); });
        }
        if (spec.kind != FileDialogKind::ChooseFolder) {
            fProxy = new TypeFilterProxy(fSpec.filter, this);
            setProxyModel(fProxy);
        }
        for (plat::FileType const& t : spec.types) {
            QString const pattern = t.extension == "*" ? QStringLiteral("*") : "*." + Q(t.extension);
            fFilters << Q(t.description) + " (" + pattern + ")";
        }
        if (!fFilters.isEmpty())
            setNameFilters(fFilters);
        connect(this, &QFileDialog::filterSelected, this, [this](QString const& chosen) {
            PopupChosen(static_cast<int>(fFilters.indexOf(chosen)));
        });
    }

    QStringList const& NameFilters() const { return fFilters; }
    FileDialogReply const& Reply() const { return fReply; }

    void PopupChosen(int index)
    {
        if (index < 0 || !fSpec.event)
            return;
        FileDialogEvent e;
        e.selector = kFileDialogPopup;
        e.popupIndex = index;
        fSpec.event(e);
        if (fProxy)
            fProxy->Refilter();
    }

    bool IsLoaded(QString const& folder) const { return fLoaded.contains(QFileInfo(folder).absoluteFilePath()); }

    // The names the list shows at its root.
    std::vector<std::string> Listing() const
    {
        std::vector<std::string> names;
        auto* list = findChild<QListView*>(QStringLiteral("listView"));
        auto* files = findChild<QFileSystemModel*>();
        if (!list || !list->model() || !files)
            return names;
        QAbstractItemModel* model = list->model();
        QModelIndex const root = list->rootIndex();
        for (int row = 0; row < model->rowCount(root); ++row) {
            QModelIndex index = model->index(row, 0, root);
            QModelIndex source = fProxy ? fProxy->mapToSource(index) : index;
            names.push_back(S(files->fileName(source)) + (files->isDir(source) ? "/" : ""));
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The accept button: what the user chose is put in the reply and shown
    // to the caller, who may keep the dialog open. Folders typed or chosen
    // in a file dialog are entered, as the toolkit's dialog does.
    void accept() override
    {
        QStringList const files = selectedFiles();
        if (files.isEmpty())
            return;
        FileDialogReply reply;
        if (fSpec.kind == FileDialogKind::ChooseFolder) {
            reply.selection.push_back(S(QFileInfo(files.first()).absoluteFilePath()));
        } else {
            for (QString const& f : files) {
                QFileInfo const info(f);
                if (info.isDir()) {
                    QFileDialog::accept(); // enters the folder
                    return;
                }
                if (fSpec.kind == FileDialogKind::Save) {
                    reply.selection.push_back(S(info.absolutePath()));
                    reply.saveName = S(info.fileName());
                    break;
                }
                reply.selection.push_back(S(info.absoluteFilePath()));
            }
        }
        if (fSpec.approve && !fSpec.approve(reply))
            return;
        fReply = reply;
        QDialog::accept();
    }

private:
    FileDialogSpec const& fSpec;
    TypeFilterProxy* fProxy = nullptr;
    QStringList fFilters;
    QSet<QString> fLoaded;
    FileDialogReply fReply;
};

OSType ModalKindOf(FileDialogKind kind)
{
    switch (kind) {
    case FileDialogKind::Open: return kModalFileOpen;
    case FileDialogKind::Save: return kModalFileSave;
    case FileDialogKind::ChooseFolder: return kModalFolder;
    }
    return kModalFileOpen;
}

// Puts a responder's answer into the dialog the way a user would: the
// pop-up item, the text of the name field, then the accept button.
void ApplyAnswer(FileDialog& dialog, FileDialogSpec const& spec, ModalAnswer const& answer)
{
    QStringList const& filters = dialog.NameFilters();
    if (answer.value > 0 && answer.value <= static_cast<uint32_t>(filters.size())) {
        QString const item = filters.at(static_cast<int>(answer.value) - 1);
        dialog.selectNameFilter(item);
        dialog.PopupChosen(static_cast<int>(answer.value) - 1);
    }
    if (answer.choice != 0 && answer.choice != 1) {
        dialog.reject();
        return;
    }
    QString typed = Q(answer.text);
    if (spec.kind == FileDialogKind::Open && spec.multiple && !answer.items.empty()) {
        QStringList quoted;
        for (std::string const& item : answer.items)
            quoted << "\"" + Q(item) + "\"";
        typed = quoted.join(' ');
    }
    if (!typed.isEmpty()) {
        if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(typed);
    }
    if (answer.choice == 1)
        dialog.accept();
}

} // namespace

int RunFileDialog(FileDialogSpec const& spec, FileDialogReply* replyOut)
{
    if (!CheckMainThread("RunFileDialog") || !IsApplicationRunning())
        return kFileActionCancel;

    FileDialog dialog(spec, bridge::WidgetOfWindow(spec.parent));
    FileDialogEvent start;
    start.selector = kFileDialogStart;
    if (spec.event)
        spec.event(start);
    if (!start.location.empty()) {
        QFileInfo const where(Q(start.location));
        dialog.setDirectory(where.isDir() ? where.absoluteFilePath() : where.absolutePath());
    }
    if (spec.kind == FileDialogKind::Save && !spec.saveName.empty())
        dialog.selectFile(Q(spec.saveName));
    if (!dialog.NameFilters().isEmpty())
        dialog.PopupChosen(0);

    ModalRequest req;
    req.kind = ModalKindOf(spec.kind);
    req.title = spec.title;
    req.text = S(dialog.directory().absolutePath());
    if (spec.kind == FileDialogKind::Save)
        req.text += (req.text.size() > 1 ? "/" : "") + spec.saveName;
    for (QString const& f : dialog.NameFilters())
        req.choices.push_back(S(f));
    req.window = spec.parent;
    req.native = static_cast<QWidget*>(&dialog);

    // The responders are asked once the dialog's loop runs, and again while
    // it stays open after their answer.
    int answers = 0;
    std::function<void()> offer = [&] {
        if (!dialog.isVisible())
            return;
        ModalAnswer answer;
        if (!OfferModal(req, answer)) {
            if (!IsTestMode())
                return; // a human answers
            std::fprintf(stderr, "plat: file dialog \"%s\" in test mode without a responder: cancelled\n",
                         spec.title.c_str());
            dialog.reject();
            return;
        }
        if (!dialog.isVisible())
            return; // the responder worked the dialog itself
        if (++answers > kMaxAnswers) {
            std::fprintf(stderr, "plat: file dialog \"%s\" still open after %d answers: cancelled\n",
                         spec.title.c_str(), kMaxAnswers);
            dialog.reject();
            return;
        }
        ApplyAnswer(dialog, spec, answer);
        if (dialog.isVisible())
            QTimer::singleShot(0, &dialog, offer);
    };
    QTimer::singleShot(0, &dialog, offer);
    int const result = dialog.exec();

    int action = kFileActionCancel;
    if (result == QDialog::Accepted) {
        action = spec.kind == FileDialogKind::Open   ? kFileActionOpen
                 : spec.kind == FileDialogKind::Save ? kFileActionSaveAs
                                                     : kFileActionChoose;
    }
    FileDialogEvent done;
    done.selector = kFileDialogUserAction;
    done.action = action;
    if (action != kFileActionCancel)
        done.reply = &dialog.Reply();
    if (spec.event)
        spec.event(done);
    if (replyOut)
        *replyOut = action != kFileActionCancel ? dialog.Reply() : FileDialogReply{};
    return action;
}

std::vector<std::string> FileDialogListing(ModalRequest const& request, int timeoutMs)
{
    if (!CheckMainThread("FileDialogListing"))
        return {};
    auto* dialog = dynamic_cast<FileDialog*>(static_cast<QWidget*>(request.native));
    if (!dialog)
        return {};
    QPointer<FileDialog> alive(dialog);
    QElapsedTimer clock;
    clock.start();
    while (alive && !alive->IsLoaded(alive->directory().absolutePath()) && clock.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    if (!alive)
        return {};
    // The file model sorts and filters what it has read (and applies a
    // changed pop-up item) in a later turn; a sort in its own order does
    // that now.
    if (auto* files = alive->findChild<QFileSystemModel*>())
        files->sort(0, Qt::AscendingOrder);
    QApplication::processEvents();
    return alive ? alive->Listing() : std::vector<std::string>{};
}

std::string TextTypeIdentifierForExtension(std::string const& extension)
{
    if (extension == "*")
        return "application/octet-stream";
    if (extension.empty())
        return "dyn.";
    std::string lower = extension;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    std::string const own = InfoValue("TypeIdentifier." + lower);
    if (!own.empty())
        return own;
    static QMimeDatabase const database;
    for (QMimeType const& type : database.mimeTypesForFileName("x." + Q(extension))) {
        if (type.inherits(QStringLiteral("text/plain")))
            return S(type.name());
    }
    return "dyn." + extension;
}

} // namespace plat
