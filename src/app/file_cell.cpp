// The input table's "filename" cell: icon, then the name middle-truncated.
#include "app/file_cell.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>

namespace {

constexpr int kPointSize = 11;
// The icon's side; a lower row gets a smaller icon.
constexpr int kIconSide = 16;

QPalette::ColorGroup GroupOf(const QStyleOptionViewItem& option) {
    if (!(option.state & QStyle::State_Enabled)) return QPalette::Disabled;
    return option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
}

QColor TextColour(const QPalette& palette, QPalette::ColorGroup group, bool highlighted) {
    return palette.color(group, highlighted ? QPalette::HighlightedText : QPalette::Text);
}

}  // namespace

FileCell::FileCell(QObject* parent) : QStyledItemDelegate(parent), font_(QApplication::font()) {
    font_.setPointSize(kPointSize);
}

FileCell* FileCell::copy(QObject* parent) const {
    auto* cell = new FileCell(parent);
    cell->font_ = font_;
    cell->path_ = path_;
    cell->name_ = name_;
    return cell;
}

QString FileCell::ShownText(const QString& path, const QString& name) {
    if (!name.isEmpty()) return name;
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/')) trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf('/') + 1);
}

void FileCell::drawInteriorWithFrame(QPainter* painter, const QRect& frame, const QIcon& icon,
                                     bool highlighted, const QPalette& palette,
                                     QPalette::ColorGroup group) const {
    DrawInterior(painter, frame, icon, font_, ShownText(path_, name_),
                 TextColour(palette, group, highlighted));
}

void FileCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                     const QModelIndex& index) const {
    // The style draws the row's background, selection and focus; the cell draws
    // its own icon and text over it.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    background.features &=
        ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    DrawInterior(
        painter, option.rect, index.data(Qt::DecorationRole).value<QIcon>(), font_,
        ShownText(index.data(kPathRole).toString(), index.data(kNameRole).toString()),
        TextColour(option.palette, GroupOf(option), option.state & QStyle::State_Selected));
}

void FileCell::DrawInterior(QPainter* painter, const QRect& frame, const QIcon& icon,
                            const QFont& font, const QString& text, const QColor& colour) {
    painter->save();
    painter->setClipRect(frame, Qt::IntersectClip);
    if (!icon.isNull()) {
        const int side = std::min(kIconSide, frame.height());
        const QRect iconRect(frame.left(), frame.top() + (frame.height() - side) / 2, side, side);
        icon.paint(painter, iconRect, Qt::AlignCenter);
    }
    // The text's box ends at the cell's right edge, so a cut name shows its end.
    const qreal width = frame.width() - kTextOffset;
    if (width > 0 && !text.isEmpty()) {
        const QFontMetricsF metrics(font, painter->device());
        const qreal height = metrics.height();
        // Centred on the text's height, one point higher.
        const QRectF box(frame.left() + kTextOffset,
                         frame.top() + (frame.height() - height) / 2 - 1, width, height);
        painter->setFont(font);
        painter->setPen(colour);
        painter->drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          metrics.elidedText(text, Qt::ElideMiddle, width));
    }
    painter->restore();
}
