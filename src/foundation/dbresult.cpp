#include "foundation/dbresult.h"

#include <algorithm>
#include <fstream>

std::string dbresult::cur_sort_key;

namespace {

const std::string& FieldValue(const dbrecord& record, const std::string& field) {
    static const std::string kEmpty;
    auto it = record.find(field);
    return it == record.end() ? kEmpty : it->second;
}

}  // namespace

dbresult::dbresult() = default;

dbresult::dbresult(const char* path) {
    if (!path) return;
    std::ifstream in(path, std::ios::binary);
    if (in) in >> *this;
}

dbresult::dbresult(const dbresult& other) = default;
dbresult& dbresult::operator=(const dbresult& other) = default;

dbresult dbresult::find(const std::string& field, const std::string& value) const {
    dbresult out;
    out.attributes = attributes;
    for (const dbrecord& r : records)
        if (FieldValue(r, field) == value) out.records.push_back(r);
    return out;
}

bool dbresult::find(const std::string& field, const std::string& value, dbrecord& record) const {
    for (const dbrecord& r : records) {
        if (FieldValue(r, field) == value) {
            record = r;
            return true;
        }
    }
    return false;
}

void dbresult::add(const dbrecord& record) { records.push_back(record); }

void dbresult::addatr(const std::string& name) { attributes.push_back(name); }

bool dbresult::lesser_dbrec(const dbrecord& a, const dbrecord& b) {
    return FieldValue(a, cur_sort_key) < FieldValue(b, cur_sort_key);
}

bool dbresult::greater_dbrec(const dbrecord& a, const dbrecord& b) {
    return FieldValue(a, cur_sort_key) > FieldValue(b, cur_sort_key);
}

bool dbresult::equal_key(const dbrecord& a, const dbrecord& b) {
    return FieldValue(a, cur_sort_key) == FieldValue(b, cur_sort_key);
}

void dbresult::sort(const std::string& field, bool ascending) {
    cur_sort_key = field;
    if (ascending)
        std::stable_sort(records.begin(), records.end(), lesser_dbrec);
    else
        std::stable_sort(records.begin(), records.end(), greater_dbrec);
}

std::vector<std::string> dbresult::get_values_for_field(const std::string& field) const {
    std::vector<std::string> values;
    values.reserve(records.size());
    for (const dbrecord& r : records) values.push_back(FieldValue(r, field));
    return values;
}

void dbresult::distinct(const std::string& field) {
    sort(field, true);
    records.erase(std::unique(records.begin(), records.end(), equal_key), records.end());
}

std::istream& operator>>(std::istream& in, dbresult& table) {
    typedef std::char_traits<char> traits;
    std::vector<std::string> names;
    std::string field;
    // The first line: the attribute names.
    for (;;) {
        traits::int_type c = in.get();
        if (traits::eq_int_type(c, traits::eof())) break;
        char ch = traits::to_char_type(c);
        if (ch == '\t' || ch == '\n') {
            names.push_back(field);
            field.clear();
            if (ch == '\n') break;
        } else {
            field += ch;
        }
    }
    table.attributes = names;

    // Every further line: one record, starting empty, complete at its LF.
    dbrecord record;
    size_t position = 0;
    field.clear();
    for (;;) {
        traits::int_type c = in.get();
        if (traits::eq_int_type(c, traits::eof())) break;
        char ch = traits::to_char_type(c);
        if (ch == '\t' || ch == '\n') {
            if (position < names.size()) record[names[position]] = field;
            field.clear();
            ++position;
            if (ch == '\n') {
                table.records.push_back(std::move(record));
                record.clear();
                position = 0;
            }
        } else if (position < names.size()) {
            // Text of fields beyond the last attribute is not kept.
            field += ch;
        }
    }
    // The end of the stream is how reading ends, not a failure: keep eofbit but
    // drop the failbit that the last get() set.
    in.clear(in.rdstate() & ~std::ios::failbit);
    return in;
}
