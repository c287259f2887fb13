// Small helpers shared by the files of the Define Conversion dialog: reading a
// row of the file-type table (absent keys read as nil, 0 or NO), the popups'
// items and tags, and the numbers in the dialog's fields.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "platform/property_list.h"
#include "platform/user_defaults.h"

class QComboBox;
class QLineEdit;

namespace dialog_support {

const plist::Value* RowValue(const plist::Dictionary* row, const char* key);
bool RowBool(const plist::Dictionary* row, const char* key);
double RowReal(const plist::Dictionary* row, const char* key);
int64_t RowInteger(const plist::Dictionary* row, const char* key);
QString RowString(const plist::Dictionary* row, const char* key);
const plist::Array* RowArray(const plist::Dictionary* row, const char* key);

// The text of a number in the fields of the dialog (C locale).
QString FormatNumber(double value);
// The value of a field: single precision, 0 when it holds no number.
float FieldValue(const QLineEdit* field);

// The tag of a popup's item (0 for none), and of its selected item.
int ItemTag(const QComboBox* popup, int index);
int SelectedTag(const QComboBox* popup);
// Selects the item at `index` when there is one.
void SelectIndex(QComboBox* popup, int64_t index);
void SetItemEnabled(QComboBox* popup, int index, bool enabled);
bool IsSeparator(const QComboBox* popup, int index);

// The user's custom sample rates; entries that are no usable rate are left out.
std::vector<double> ReadCustomRates(const platform::UserDefaults& defaults);

}  // namespace dialog_support
