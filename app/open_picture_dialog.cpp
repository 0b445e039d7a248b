#include "app/open_picture_dialog.h"

#include "app/picture_pane.h"
#include "app/scratch_settings.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace picture_dialog {

std::vector<FileType> ParseFilter(const QString& filter)
{
    std::vector<FileType> types;
    const QStringList parts = filter.split(QLatin1Char('|'));
    // A description without its pattern list (an odd last part) names no files: dropped.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        FileType type;
        type.description = parts[i];
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            if (!trimmed.isEmpty())
                type.patterns.append(trimmed);
        }
        types.push_back(type);
    }
    return types;
}

QStringList QtNameFilters(const QString& filter)
{
    // QFileDialog takes the patterns from the last parentheses of a filter, separated by
    // spaces, and with HideNameFilterDetails shows only the text before them. Appending our
    // own parentheses therefore keeps a description like "ビットマップ (*.bmp)" intact and
    // gives "JPEG" its patterns without showing them.
    QStringList filters;
    for (const FileType& type : ParseFilter(filter))
        filters.append(type.description + QStringLiteral(" (") + type.patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    return filters;
}

}  // namespace picture_dialog

namespace {

using picture_dialog::PicturePane;

// Qt's file dialog, where a wildcard confirmed in the name box ("*", "*.jpg", "a*;b*", or
// with a folder before it) filters the list, as desktop file dialogs do, instead of naming
// a file. The file type chosen next filters by its own patterns again.
class PictureFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        auto* nameBox = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* model = findChild<QFileSystemModel*>();
        const QString typed = nameBox ? nameBox->text().trimmed() : QString();
        if (!model || (!typed.contains(QLatin1Char('*')) && !typed.contains(QLatin1Char('?')))) {
            QFileDialog::accept();
            return;
        }
        QStringList patterns;
        for (const QString& part : typed.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QFileInfo named(directory().absoluteFilePath(part.trimmed()));
            if (named.absoluteDir() != directory() && named.absoluteDir().exists())
                setDirectory(named.absolutePath());
            patterns.append(named.fileName());
        }
        model->setNameFilters(patterns);
    }
};

void SetUpFileTypes(QFileDialog& dialog, const QStringList& filters, int filterIndex)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // AnyFile lets the player confirm a typed name of a file that does not exist; reading it
    // then fails with the game's own message.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) {
        const int index = filterIndex >= 1 && filterIndex <= filters.size() ? filterIndex : 1;
        dialog.selectNameFilter(filters[index - 1]);
    }
}

// Puts the pane beside the file list. It shows the file 開く would open: the file selected in
// the list, else the name typed in the name box, so it never shows one file while the name box
// names another. Returns the call that brings it up to date.
std::function<void()> AttachPane(QFileDialog& dialog)
{
    auto* pane = new PicturePane(&dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
    else if (dialog.layout())
        dialog.layout()->addWidget(pane);
    // Several signals come with one change: the pane decodes once.
    auto shown = std::make_shared<QString>();
    auto follow = [&dialog, pane, shown] {
        const QString path = dialog.selectedFiles().value(0);
        if (path == *shown)
            return;
        *shown = path;
        pane->ShowFile(path);
    };
    QObject::connect(&dialog, &QFileDialog::currentChanged, pane, follow);
    QObject::connect(&dialog, &QFileDialog::directoryEntered, pane, follow);

    auto* nameBox = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* list = dialog.findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (nameBox && list && list->selectionModel()) {
        // The list keeps a selection the typed name does not match (a folder passed on the
        // way, a file the type hides, a name not there), and 開く would open that instead:
        // a typed name wins.
        QObject::connect(nameBox, &QLineEdit::textChanged, pane, [&dialog, list, follow](const QString& text) {
            const QModelIndexList rows = list->selectionModel()->selectedRows();
            const QString typed = QDir::cleanPath(dialog.directory().absoluteFilePath(text));
            if (!text.isEmpty() && !rows.isEmpty() &&
                (rows.size() > 1 || rows.first().data(QFileSystemModel::FilePathRole).toString() != typed))
                list->selectionModel()->clearSelection();
            follow();
        });
        QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, pane, follow);
    }
    return follow;
}

// Calls back each time the watched widget changes its width.
class OnWidthChange : public QObject {
public:
    OnWidthChange(QWidget* watched, std::function<void()> call) : QObject(watched), call_(std::move(call))
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize) {
            const auto* resize = static_cast<QResizeEvent*>(event);
            if (resize->size().width() != resize->oldSize().width())
                call_();
        }
        return false;
    }

private:
    std::function<void()> call_;
};

// The size, type and date columns as wide as their texts, whatever the locale writes there,
// as the folder's files are listed and examined; the names take the rest of the list's width,
// never less than the longest name. Once the player drags one of those three the widths are the
// player's: a column dragged wider scrolls the list sideways and leaves the names whole, as the
// platform's file lists do. The dialog sized itself before the pane joined it: it opens wide
// enough for both.
void FitColumns(QFileDialog& dialog)
{
    auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (details && details->model()) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::Interactive);
        auto* fitting = new QTimer(header);  // gathers a burst of changes into one fit
        fitting->setSingleShot(true);
        enum class Widths { Fitted, Fitting, Players };
        auto widths = std::make_shared<Widths>(Widths::Fitted);
        // The names fill what the other columns leave; only where they may shrink do they go
        // down to their own width.
        const auto fillWithNames = [details, widths](bool mayShrink) {
            QHeaderView* header = details->header();
            const int names = std::max(static_cast<const QAbstractItemView*>(details)->sizeHintForColumn(0),
                                         header->sectionSizeHint(0));
            const int room = details->viewport()->width() - (header->length() - header->sectionSize(0));
            const Widths was = *widths;
            *widths = Widths::Fitting;
            header->resizeSection(0, std::max({names, room, mayShrink ? 0 : header->sectionSize(0)}));
            *widths = was;
        };
        QObject::connect(fitting, &QTimer::timeout, header, [details, widths, fillWithNames] {
            if (*widths == Widths::Players) {
                fillWithNames(false);  // a longer name widens its column; the player's widths stay
                return;
            }
            *widths = Widths::Fitting;
            for (int column = 1; column < details->header()->count(); ++column)
                details->resizeColumnToContents(column);
            *widths = Widths::Fitted;
            fillWithNames(true);
        });
        QObject::connect(header, &QHeaderView::sectionResized, header, [widths, fillWithNames](int column) {
            if (column == 0 || *widths == Widths::Fitting)
                return;
            *widths = Widths::Players;
            fillWithNames(false);
        });
        new OnWidthChange(details->viewport(), [fillWithNames] { fillWithNames(true); });
        const auto fitSoon = [fitting] { fitting->start(0); };
        QAbstractItemModel* model = details->model();
        QObject::connect(model, &QAbstractItemModel::rowsInserted, fitting, fitSoon);
        QObject::connect(model, &QAbstractItemModel::dataChanged, fitting, fitSoon);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, fitting, fitSoon);
        QObject::connect(model, &QAbstractItemModel::modelReset, fitting, fitSoon);
        fitSoon();
    }
    QSize size = dialog.size().expandedTo(dialog.sizeHint());
    if (const QScreen* screen = dialog.screen())
        size = size.boundedTo(screen->availableSize());
    dialog.resize(size);
}

// Starts on the last confirmed name in its folder, whether the file is there or not, else in
// the initial folder (relative to the current directory) when it exists, else in the current
// directory.
void StartOnLastChoice(QFileDialog& dialog, const QString& fileName, const QString& initialDir)
{
    const QFileInfo last(fileName);
    if (!fileName.isEmpty() && last.absoluteDir().exists()) {
        dialog.setDirectory(last.absolutePath());
        dialog.selectFile(last.absoluteFilePath());
        return;
    }
    const QString initial = QDir::current().absoluteFilePath(initialDir);
    dialog.setDirectory(!initialDir.isEmpty() && QFileInfo(initial).isDir() ? initial : QDir::currentPath());
}

}  // namespace

TOpenPictureDialog::TOpenPictureDialog(QWidget* owner) : owner_(owner)
{
}

bool TOpenPictureDialog::Execute()
{
    const ScratchSettings settings;  // outlives the dialog, which writes its history when destroyed
    PictureFileDialog dialog(owner_);
    const QStringList filters = picture_dialog::QtNameFilters(Filter);
    SetUpFileTypes(dialog, filters, FilterIndex);
    const auto updatePane = AttachPane(dialog);
    FitColumns(dialog);
    StartOnLastChoice(dialog, FileName, InitialDir);
    updatePane();

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    KeepChoice(dialog, filters);
    return true;
}

void TOpenPictureDialog::KeepChoice(const QFileDialog& dialog, const QStringList& filters)
{
    FileName = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
    // With the details hidden, Qt 6.4 reports the chosen type by its shown description.
    const QString chosen = dialog.selectedNameFilter();
    const std::vector<picture_dialog::FileType> types = picture_dialog::ParseFilter(Filter);
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (chosen == filters[i] || chosen == types[size_t(i)].description.simplified()) {
            FilterIndex = int(i) + 1;
            break;
        }
    }
}
