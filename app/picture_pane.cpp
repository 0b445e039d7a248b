#include "app/picture_pane.h"

#include "app/idle_warm_up.h"
#include "pictures/display.h"
#include "pictures/failure.h"
#include "pictures/loading.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace picture_dialog {
namespace {

const QString kNoPicture = QStringLiteral("(なし)");
const QString kInvalidPicture = QStringLiteral("画像が不正です");
const QString kNoCaption = QStringLiteral("画像:");
const QString kPreview = QStringLiteral("プレビュー");

// Room around the picture in the preview window, on each side.
constexpr int kPreviewMargin = 5;

// The smallest picture area the pane decodes for, before its layout has given it a size.
constexpr QSize kPaneCover(200, 200);

}  // namespace

QRect FitCentred(QSize picture, const QRect& area)
{
    if (picture.isEmpty() || area.isEmpty())
        return QRect();
    const qint64 pw = picture.width(), ph = picture.height();
    const qint64 aw = area.width(), ah = area.height();
    qint64 w, h;
    if (pw * ah <= ph * aw) {  // relatively taller than the area: the heights meet
        h = ah;
        w = std::max<qint64>(1, (pw * ah + ph / 2) / ph);
    } else {
        w = aw;
        h = std::max<qint64>(1, (ph * aw + pw / 2) / pw);
    }
    return QRect(area.x() + int((aw - w) / 2), area.y() + int((ah - h) / 2), int(w), int(h));
}

QSize PreviewClientSize(QSize picture, QSize available)
{
    const int w = std::min<qint64>(qint64(picture.width()) + 2 * kPreviewMargin, qint64(available.width()) * 3 / 4);
    const int h = std::min<qint64>(qint64(picture.height()) + 2 * kPreviewMargin, qint64(available.height()) * 3 / 4);
    return QSize(w, h);
}

PaneLoad LoadPaneFile(const QString& path, QSize cover)
{
    PaneLoad load;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return load;
    // The game's own general loader, so the pane shows what the game would load and refuses
    // what it refuses; JPEG files are decoded only as large as the pane needs.
    QSize size;
    try {
        const pictures::Picture picture = pictures::LoadRegisteredPicture(path, cover, &size);
        if (!picture.isEmpty()) {
            load.state = PictureState::Shown;
            load.size = size;
            load.format = picture.image().format();
            // A picture far larger than it is shown (a bitmap is read whole) is sampled down
            // once, as the board's display does, so that painting never smooths megapixels.
            const QSize keep = FitCentred(picture.image().size(), QRect(QPoint(), cover)).size() * 2;
            load.image = picture.width() > keep.width() && picture.height() > keep.height()
                             ? pictures::StretchForDisplay(picture, keep.width(), keep.height())
                             : picture.image();
        }
    } catch (const pictures::Failure&) {
        // A JPEG file whose header gave its size but whose pixels cannot be decoded.
        if (!size.isEmpty()) {
            load.state = PictureState::Invalid;
            load.size = size;
        }
    }
    return load;
}

PictureView::PictureView(QWidget* parent) : QFrame(parent)
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
}

void PictureView::SetPicture(PictureState state, const QImage& image)
{
    state_ = state;
    image_ = state == PictureState::Shown ? image : QImage();
    scaled_ = QImage();
    update();
}

QString PictureView::ShownText() const
{
    switch (state_) {
    case PictureState::Shown: return QString();
    case PictureState::Invalid: return kInvalidPicture;
    case PictureState::None: break;
    }
    return kNoPicture;
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect();
    if (state_ != PictureState::Shown) {
        painter.drawText(area, Qt::AlignCenter, ShownText());
        return;
    }
    const QRect target = FitCentred(image_.size(), area);
    if (target.isEmpty())
        return;
    if (scaled_.size() != target.size()) {
        scaled_ = target.size() == image_.size()
                      ? image_
                      : image_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    painter.drawImage(target.topLeft(), scaled_);
}

PicturePane::PicturePane(QWidget* parent)
    : QWidget(parent),
      caption_(new QLabel(this)),
      previewButton_(new QToolButton(this)),
      view_(new PictureView(this)),
      warmUp_(new IdleWarmUp(this))
{
    previewButton_->setToolTip(kPreview);
    previewButton_->setIcon(QIcon::fromTheme(QStringLiteral("zoom-in"),
                                             style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    view_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    view_->setMinimumSize(64, 64);

    auto* top = new QHBoxLayout;
    top->addWidget(caption_, 1);
    top->addWidget(previewButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    setMinimumWidth(180);

    connect(previewButton_, &QToolButton::clicked, this, &PicturePane::OpenPreview);
    ShowFile(QString());
}

void PicturePane::ShowFile(const QString& path)
{
    path_ = path;
    load_ = LoadPaneFile(path, view_->contentsRect().size().expandedTo(kPaneCover));
    if (load_.state == PictureState::None)
        caption_->setText(kNoCaption);
    else
        caption_->setText(QStringLiteral(" (%1x%2)").arg(load_.size.width()).arg(load_.size.height()));
    previewButton_->setEnabled(load_.state != PictureState::None);
    view_->SetPicture(load_.state, load_.image);
    // While the player looks at it, the storage of the picture that opening it would make.
    if (load_.state == PictureState::Shown)
        warmUp_->Start(load_.size, load_.format, 1);
}

void PicturePane::OpenPreview()
{
    if (load_.state == PictureState::None)
        return;
    PicturePreviewWindow window(path_, load_.size, this);
    window.exec();
}

PicturePreviewWindow::PicturePreviewWindow(const QString& path, QSize pictureSize, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      view_(new PictureView(this))
{
    setWindowTitle(kPreview);
    setModal(true);
    view_->setFrameStyle(QFrame::NoFrame);
    // The window colour (the edit boxes' white), where the pane keeps the dialog's face.
    view_->setBackgroundRole(QPalette::Base);
    view_->setContentsMargins(kPreviewMargin, kPreviewMargin, kPreviewMargin, kPreviewMargin);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize client = PreviewClientSize(pictureSize, available.size());
    resize(client);
    // An explicit position also keeps QDialog from centring the window over its parent.
    move(available.center() - QPoint(client.width() / 2, client.height() / 2));

    // Read again, as large as this window shows it.
    const PaneLoad load = LoadPaneFile(path, client - QSize(2 * kPreviewMargin, 2 * kPreviewMargin));
    view_->SetPicture(load.state, load.image);
}

}  // namespace picture_dialog
