#include "content_preview.h"
#include "named_images.h"

#include <QFile>
#include <QPixmap>
#include <QScrollArea>
#include <QVBoxLayout>

#include "content/content_item.h"
#include "widgets/tavri_defaults.h"

namespace tavri {
namespace {
constexpr int kPictureSide = 220;

QString row(const QString& label, const QString& value) {
  return QString("<tr><td style='color:%1; padding-right:8px'>%2</td><td>%3</td></tr>")
      .arg(tavri_defaults::color_tavri_green().name(), label, value.toHtmlEscaped());
}
}  // namespace

ContentPreview::ContentPreview(RecordList& content, QWidget* parent) : QWidget(parent), content_(content) {
  setObjectName("content_preview");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 0, 0, 0);
  picture_ = new QLabel(this);
  picture_->setObjectName("preview_picture");
  picture_->setFixedSize(kPictureSide, kPictureSide * 9 / 16);
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setStyleSheet(QString("background: %1;").arg(tavri_defaults::color_tavri_gray().name()));
  title_ = new QLabel(this);
  title_->setObjectName("preview_title");
  title_->setWordWrap(true);
  title_->setStyleSheet(QString("color: %1; font-weight: bold;").arg(tavri_defaults::color_tavri_text().name()));
  details_ = new QLabel(this);
  details_->setObjectName("preview_details");
  details_->setWordWrap(true);
  details_->setTextFormat(Qt::RichText);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);  // a stream's address can be copied
  details_->setStyleSheet(QString("color: %1;").arg(tavri_defaults::color_tavri_text().name()));
  // However much there is to say, the pane keeps the height the table gives it.
  auto* scroller = new QScrollArea(this);
  scroller->setFrameShape(QFrame::NoFrame);
  scroller->setWidgetResizable(true);
  scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroller->setStyleSheet("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }");
  auto* text = new QWidget;
  auto* text_layout = new QVBoxLayout(text);
  text_layout->setContentsMargins(0, 0, 0, 0);
  text_layout->addWidget(picture_);
  text_layout->addWidget(title_);
  text_layout->addWidget(details_);
  text_layout->addStretch(1);
  scroller->setWidget(text);
  scroller->setMinimumHeight(0);
  layout->addWidget(scroller, 1);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
  setFixedWidth(kPictureSide + 20);  // and a scroll bar
  connect(&content_, &RecordList::selection_changed, this, &ContentPreview::show_selection);
  connect(&content_, &RecordList::changed, this, &ContentPreview::show_selection);
  show_selection();
}

void ContentPreview::show_selection() {
  const RecordArray selected = content_.selected_records();
  if (selected.isEmpty()) {
    picture_->clear();
    title_->setText("Nothing selected");
    details_->setText("Select content to see it here.");
    return;
  }
  const Record& r = selected.first();
  const QImage icon = picture_of(r.value(key::FILE_ICON));
  // The thumbnail is square with transparent bands; the picture shows it whole.
  picture_->setPixmap(icon.isNull() ? QPixmap()
                                    : QPixmap::fromImage(icon.scaled(picture_->size(), Qt::KeepAspectRatio,
                                                                     Qt::SmoothTransformation)));
  QString title = r.value(key::FILE_NAME).toString();
  if (selected.size() > 1) title += QString("  (and %1 more)").arg(selected.size() - 1);
  title_->setText(title);

  const QUrl url = r.value(key::FILE_URL).toUrl();
  const bool stream = content_kind_of(url.fileName()) == ContentKind::stream;
  QString rows;
  if (stream) {
    // A stream is a small file that holds its address.
    QFile file(url.toLocalFile());
    const QString address = file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.read(2048)).trimmed() : QString();
    rows += row("Address", address.isEmpty() ? QString("(not readable)") : address);
  } else {
    rows += row("File", url.toLocalFile());
  }
  rows += row("Kind", r.value(key::FILE_KIND).toString());
  if (!stream) {
    rows += row("Length", length_in_timecode(r.value(key::FILE_LENGTH)));
    rows += row("Size", r.value(key::FILE_SIZE).toString());
    rows += row("Resolution", r.value(key::FILE_RESOLUTION).toString());
    rows += row("FPS", r.value(key::FILE_FPS).toString());
    rows += row("Codec", r.value(key::FILE_CODEC).toString());
    if (r.contains(key::FILE_BITRATE))
      rows += row("Bit rate", QString("%1 kbit/s").arg(r.value(key::FILE_BITRATE).toLongLong() / 1000));
    rows += row("Changed", r.value(key::FILE_CHANGE).toString());
    if (r.value(key::FILE_FOUND).toInt() == 0) rows += row("State", "file not found");
  }
  details_->setText("<table>" + rows + "</table>");
}

}  // namespace tavri
