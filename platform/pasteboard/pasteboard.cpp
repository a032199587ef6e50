#include "platform/pasteboard/pasteboard.h"

#include "platform/events/application.h"
#include "platform/events/queue.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace plat {
namespace {

// What this process put on the clipboard, while it owns it.
struct Board {
    std::vector<PasteboardItem> items;
    bool owner = false;
    bool modified = false;
    bool setting = false; // our own change is being made
    bool watching = false;
};

Board& TheBoard()
{
    static Board board;
    return board;
}

QClipboard* Clipboard(char const* operation)
{
    if (!CheckMainThread(operation) || !IsApplicationRunning() || !qGuiApp)
        return nullptr;
    QClipboard* clipboard = QGuiApplication::clipboard();
    Board& board = TheBoard();
    if (clipboard && !board.watching) {
        board.watching = true;
        QObject::connect(clipboard, &QClipboard::dataChanged, clipboard, [] {
            Board& b = TheBoard();
            if (b.setting)
                return;
            b.owner = false;
            b.modified = true;
            b.items.clear();
        });
    }
    return clipboard;
}

QString Q(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

void Publish(QClipboard* clipboard)
{
    Board& board = TheBoard();
    auto* data = new QMimeData;
    if (!board.items.empty()) {
        PasteboardItem const& first = board.items.front();
        bool plain = false;
        for (auto const& [flavor, bytes] : first) {
            data->setData(Q(flavor), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
            plain = plain || flavor == kFlavorPlainText;
        }
        if (!plain) {
            for (auto const& [flavor, bytes] : first) {
                if (flavor == kFlavorUtf8Text) {
                    data->setData(Q(kFlavorPlainText), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
                    break;
                }
            }
        }
        if (board.items.size() > 1) {
            std::vector<PasteboardItem> more(board.items.begin() + 1, board.items.end());
            std::string const packed = EncodeMoreItems(more);
            data->setData(Q(kFlavorMoreItems), QByteArray(packed.data(), static_cast<qsizetype>(packed.size())));
        }
    }
    board.setting = true;
    clipboard->setMimeData(data);
    board.setting = false;
    board.owner = true;
}

// The items another program's content holds.
std::vector<PasteboardItem> ForeignItems(QClipboard* clipboard)
{
    std::vector<PasteboardItem> items;
    QMimeData const* data = clipboard->mimeData();
    if (!data)
        return items;
    PasteboardItem first;
    for (QString const& format : data->formats()) {
        if (format == QLatin1String(kFlavorMoreItems))
            continue;
        first.emplace_back(format.toStdString(), std::string());
    }
    if (first.empty())
        return items;
    items.push_back(std::move(first));
    if (data->hasFormat(QLatin1String(kFlavorMoreItems))) {
        QByteArray const packed = data->data(QLatin1String(kFlavorMoreItems));
        for (PasteboardItem& more : DecodeMoreItems(std::string_view(packed.constData(), packed.size())))
            items.push_back(std::move(more));
    }
    return items;
}

void PutU32(std::string& out, size_t v)
{
    uint32_t const n = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

bool GetU32(std::string_view& in, uint32_t* v)
{
    if (in.size() < 4)
        return false;
    *v = 0;
    for (int i = 0; i < 4; ++i)
        *v |= static_cast<uint32_t>(static_cast<unsigned char>(in[static_cast<size_t>(i)])) << (8 * i);
    in.remove_prefix(4);
    return true;
}

bool GetBytes(std::string_view& in, std::string* out)
{
    uint32_t n = 0;
    if (!GetU32(in, &n) || n > in.size())
        return false;
    out->assign(in.data(), n);
    in.remove_prefix(n);
    return true;
}

} // namespace

bool FlavorIsUtf16Text(std::string_view flavor)
{
    std::string f(flavor);
    std::transform(f.begin(), f.end(), f.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::erase(f, ' ');
    return f == "text/plain;charset=utf-16";
}

bool FlavorIsUtf8Text(std::string_view flavor)
{
    std::string f(flavor);
    std::transform(f.begin(), f.end(), f.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::erase(f, ' ');
    return f == "text/plain" || f == "text/plain;charset=utf-8" || f == "text/plain;charset=utf8";
}

uint32_t SynchronizePasteboard()
{
    if (!Clipboard("SynchronizePasteboard"))
        return kPasteboardModified;
    Board& board = TheBoard();
    uint32_t flags = (board.modified ? kPasteboardModified : 0) | (board.owner ? kPasteboardClientIsOwner : 0);
    board.modified = false;
    return flags;
}

Status ClearPasteboard()
{
    QClipboard* clipboard = Clipboard("ClearPasteboard");
    if (!clipboard)
        return kErrPasteboardNone;
    TheBoard().items.clear();
    Publish(clipboard);
    TheBoard().modified = false;
    return kNoErr;
}

Status GetPasteboardItemCount(size_t* count)
{
    QClipboard* clipboard = Clipboard("GetPasteboardItemCount");
    if (!count)
        return kErrBadArgument;
    *count = 0;
    if (!clipboard)
        return kErrPasteboardNone;
    Board const& board = TheBoard();
    *count = board.owner ? board.items.size() : ForeignItems(clipboard).size();
    return kNoErr;
}

Status CopyPasteboardItemFlavors(size_t item, std::vector<std::string>* flavors)
{
    QClipboard* clipboard = Clipboard("CopyPasteboardItemFlavors");
    if (!flavors)
        return kErrBadArgument;
    flavors->clear();
    if (!clipboard)
        return kErrPasteboardNone;
    Board const& board = TheBoard();
    std::vector<PasteboardItem> const items = board.owner ? board.items : ForeignItems(clipboard);
    if (item < 1 || item > items.size())
        return kErrPasteboardIndex;
    for (auto const& flavor : items[item - 1])
        flavors->push_back(flavor.first);
    return kNoErr;
}

Status CopyPasteboardItemFlavorData(size_t item, std::string_view flavor, std::string* data)
{
    QClipboard* clipboard = Clipboard("CopyPasteboardItemFlavorData");
    if (!data)
        return kErrBadArgument;
    data->clear();
    if (!clipboard)
        return kErrPasteboardNone;
    Board const& board = TheBoard();
    if (!board.owner && item == 1) {
        // Another program's content: the data is asked for when needed.
        QMimeData const* mime = clipboard->mimeData();
        if (!mime || mime->formats().isEmpty())
            return kErrPasteboardIndex;
        if (flavor == kFlavorMoreItems || !mime->hasFormat(Q(flavor)))
            return kErrPasteboardFlavor;
        QByteArray const bytes = mime->data(Q(flavor));
        data->assign(bytes.constData(), static_cast<size_t>(bytes.size()));
        return kNoErr;
    }
    std::vector<PasteboardItem> const items = board.owner ? board.items : ForeignItems(clipboard);
    if (item < 1 || item > items.size())
        return kErrPasteboardIndex;
    for (auto const& [type, bytes] : items[item - 1]) {
        if (type == flavor) {
            *data = bytes;
            return kNoErr;
        }
    }
    return kErrPasteboardFlavor;
}

Status PutPasteboardItemFlavor(size_t item, std::string_view flavor, std::string_view data)
{
    QClipboard* clipboard = Clipboard("PutPasteboardItemFlavor");
    if (!clipboard)
        return kErrPasteboardNone;
    Board& board = TheBoard();
    if (!board.owner)
        return kErrPasteboardNotOwner;
    if (item < 1 || item > board.items.size() + 1 || flavor.empty() || flavor == kFlavorMoreItems)
        return kErrBadArgument;
    if (item > board.items.size())
        board.items.emplace_back();
    PasteboardItem& entry = board.items[item - 1];
    auto it = std::find_if(entry.begin(), entry.end(), [&](auto const& f) { return f.first == flavor; });
    if (it != entry.end())
        it->second.assign(data);
    else
        entry.emplace_back(std::string(flavor), std::string(data));
    Publish(clipboard);
    return kNoErr;
}

std::string EncodeMoreItems(std::vector<PasteboardItem> const& items)
{
    std::string out;
    for (PasteboardItem const& item : items) {
        PutU32(out, item.size());
        for (auto const& [type, bytes] : item) {
            PutU32(out, type.size());
            out += type;
            PutU32(out, bytes.size());
            out += bytes;
        }
    }
    return out;
}

std::vector<PasteboardItem> DecodeMoreItems(std::string_view bytes)
{
    std::vector<PasteboardItem> items;
    while (!bytes.empty()) {
        uint32_t count = 0;
        // A flavour takes at least 8 bytes: more than that cannot be.
        if (!GetU32(bytes, &count) || count > bytes.size() / 8 + 1)
            break;
        PasteboardItem item;
        bool whole = true;
        for (uint32_t i = 0; i < count && whole; ++i) {
            std::string type, data;
            whole = GetBytes(bytes, &type) && GetBytes(bytes, &data);
            if (whole)
                item.emplace_back(std::move(type), std::move(data));
        }
        if (!whole)
            break;
        items.push_back(std::move(item));
    }
    return items;
}

} // namespace plat
