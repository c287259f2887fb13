// An in-memory table read from tab-separated text: the first line holds the
// attribute names, every further LF-ended line one record. Only TAB and LF
// separate; every other byte (CR included) is field text, with no quoting.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

typedef std::map<std::string, std::string> dbrecord;

class dbresult {
public:
    dbresult();
    // Reads the file at `path`; a file that cannot be opened gives an empty table.
    explicit dbresult(const char* path);
    dbresult(const dbresult& other);
    dbresult& operator=(const dbresult& other);

    // A table with the same attributes and, in order, every record whose `field`
    // equals `value` (a record without the field counts as having an empty value).
    dbresult find(const std::string& field, const std::string& value) const;
    // True and a copy of the first record whose `field` equals `value`.
    bool find(const std::string& field, const std::string& value, dbrecord& record) const;

    void add(const dbrecord& record);
    void addatr(const std::string& name);

    // Stable sort by `field` (byte-wise), ascending or descending. Uses the static
    // cur_sort_key: not to be run on two threads at once.
    void sort(const std::string& field, bool ascending);
    // The values of `field` in record order (empty for a record without it).
    std::vector<std::string> get_values_for_field(const std::string& field) const;
    // Sorts ascending by `field` and keeps the first record of each run of equal values.
    void distinct(const std::string& field);

    // The record comparators over the field named by cur_sort_key; a record
    // without the field compares as having an empty value.
    static bool lesser_dbrec(const dbrecord& a, const dbrecord& b);
    static bool greater_dbrec(const dbrecord& a, const dbrecord& b);
    static bool equal_key(const dbrecord& a, const dbrecord& b);
    static std::string cur_sort_key;

    // The attribute names in the order of the first line, and the records in file order.
    std::vector<std::string> attributes;
    std::vector<dbrecord> records;
};

// Replaces the attribute list with the first line's names and appends every
// complete (LF-ended) line as a record; each record starts empty, fields beyond
// the last attribute are ignored, and text after the last LF is dropped.
std::istream& operator>>(std::istream& in, dbresult& table);
