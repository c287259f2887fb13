// The input table's "filename" cell: the entry's icon at the left and its name
// beside it, cut in the middle when it is too long, so that both the start and
// the end of the name stay visible.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QStyledItemDelegate>

class FileCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    // What the cell reads from the model besides the icon (Qt::DecorationRole):
    // the entry's path and its name (either may be empty).
    static constexpr int kPathRole = Qt::UserRole + 1;
    static constexpr int kNameRole = Qt::UserRole + 2;
    // The text starts this far right of the cell's left edge (the icon lies before it).
    static constexpr int kTextOffset = 18;

    // Starts with the application's font at 11 points, no path and no name.
    explicit FileCell(QObject* parent = nullptr);

    const QFont& font() const { return font_; }
    void setFont(const QFont& font) { font_ = font; }
    const QString& path() const { return path_; }
    void setPath(const QString& path) { path_ = path; }
    const QString& name() const { return name_; }
    void setName(const QString& name) { name_ = name; }

    // A new cell with the same font, path and name.
    FileCell* copy(QObject* parent = nullptr) const;

    // The text shown: `name`, or the last component of `path` when there is no name.
    static QString ShownText(const QString& path, const QString& name);

    // Draws `icon` at the left of `frame` and this cell's text in its font beside it,
    // vertically centred; a highlighted cell draws the text in the palette's
    // highlighted-text colour of `group`.
    void drawInteriorWithFrame(QPainter* painter, const QRect& frame, const QIcon& icon,
                               bool highlighted, const QPalette& palette,
                               QPalette::ColorGroup group = QPalette::Active) const;

    // The table's drawing: the row's background and selection, then the interior
    // with the row's icon, path and name.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    static void DrawInterior(QPainter* painter, const QRect& frame, const QIcon& icon,
                             const QFont& font, const QString& text, const QColor& colour);

    QFont font_;
    QString path_;
    QString name_;
};
