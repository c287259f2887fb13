// The Define Conversion dialog's shared helpers.
#include "app/define_conversion_support.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QStandardItemModel>
#include <cmath>

namespace dialog_support {

const plist::Value* RowValue(const plist::Dictionary* row, const char* key) {
    if (!row) return nullptr;
    auto it = row->find(key);
    return it == row->end() ? nullptr : &it->second;
}
bool RowBool(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v && v->asBool();
}
double RowReal(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? v->asReal() : 0;
}
int64_t RowInteger(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? v->asInteger() : 0;
}
QString RowString(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? QString::fromStdString(v->asString()) : QString();
}
const plist::Array* RowArray(const plist::Dictionary* row, const char* key) {
    const plist::Value* v = RowValue(row, key);
    return v ? v->array() : nullptr;
}

QString FormatNumber(double value) { return QLocale::c().toString(value, 'g', 6); }
float FieldValue(const QLineEdit* field) {
    bool ok = false;
    const float v = QLocale::c().toFloat(field->text().trimmed(), &ok);
    return ok && std::isfinite(v) ? v : 0.0f;
}

int ItemTag(const QComboBox* popup, int index) {
    if (index < 0 || index >= popup->count()) return 0;
    return popup->itemData(index).toInt();
}
int SelectedTag(const QComboBox* popup) { return ItemTag(popup, popup->currentIndex()); }
void SelectIndex(QComboBox* popup, int64_t index) {
    if (index >= 0 && index < popup->count()) popup->setCurrentIndex(static_cast<int>(index));
}
void SetItemEnabled(QComboBox* popup, int index, bool enabled) {
    auto* model = qobject_cast<QStandardItemModel*>(popup->model());
    if (!model) return;
    if (QStandardItem* item = model->item(index)) item->setEnabled(enabled);
}
bool IsSeparator(const QComboBox* popup, int index) {
    return popup->itemData(index, Qt::AccessibleDescriptionRole).toString() ==
           QLatin1String("separator");
}

}  // namespace dialog_support
