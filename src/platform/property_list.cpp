#include "platform/property_list.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace plist {

namespace {

// Nesting deeper than this is refused when converting, so that a hostile file
// cannot exhaust the stack.
constexpr int kMaxDepth = 256;
// More nodes than this (after shared objects are expanded) are refused.
constexpr uint64_t kMaxExpandedNodes = 1u << 22;
// Property lists larger than this are not read.
constexpr size_t kMaxBytes = 8 * 1024 * 1024;

// Frees a libplist node when it goes out of scope.
struct NodeHolder {
    plist_t node = nullptr;
    ~NodeHolder() {
        if (node) plist_free(node);
    }
};

// Some libplist versions give a negative date with a fractional second as the
// truncated seconds and the fraction's magnitude (-1.5 as -1 and +500000 µs).
// Asked once, by a round trip of such a date through the binary form.
bool ReaderDropsFractionSign() {
    static const bool drops = [] {
        NodeHolder array, parsed;
        array.node = plist_new_array();
        plist_array_append_item(array.node, plist_new_date(-1, -500000));
        char* bytes = nullptr;
        uint32_t length = 0;
        plist_to_bin(array.node, &bytes, &length);
        if (!bytes) return false;
        plist_from_bin(bytes, length, &parsed.node);
        plist_to_bin_free(bytes);
        if (!parsed.node || plist_array_get_size(parsed.node) != 1) return false;
        int32_t sec = 0, usec = 0;
        plist_get_date_val(plist_array_get_item(parsed.node, 0), &sec, &usec);
        return sec == -1 && usec == 500000;
    }();
    return drops;
}

// libplist recurses as deep as the input nests and aborts on a dictionary key
// holding a zero character, so input goes through these checks first.

// XML: the deepest nesting of <array> and <dict>. Tags inside comments count
// too, which can only overestimate.
bool XmlNestingAcceptable(const std::string& xml) {
    int depth = 0;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        size_t name = at + 1;
        bool closing = name < xml.size() && xml[name] == '/';
        if (closing) ++name;
        size_t len = 0;
        if (xml.compare(name, 5, "array") == 0)
            len = 5;
        else if (xml.compare(name, 4, "dict") == 0)
            len = 4;
        else
            continue;
        size_t end = xml.find('>', name + len);
        if (end == std::string::npos) return true;  // incomplete: the parser refuses it
        char after = xml[name + len];
        if (after != '>' && after != '/' && after != ' ' && after != '\t' && after != '\n' &&
            after != '\r')
            continue;  // another tag that merely begins with these letters
        if (closing) {
            if (depth > 0) --depth;
        } else if (xml[end - 1] != '/') {
            if (++depth > kMaxDepth) return false;
        }
    }
    return true;
}

// Binary: reads the offset table and every object's header (bounds-checked),
// refuses strings holding a zero character, references out of range, cycles and
// nesting deeper than kMaxDepth.
class BinaryCheck {
public:
    explicit BinaryCheck(const std::string& b)
        : p_(reinterpret_cast<const uint8_t*>(b.data())), size_(b.size()) {}

    bool Run() {
        if (size_ < 8 + 32) return false;
        const uint8_t* t = p_ + size_ - 32;
        offsetSize_ = t[6];
        refSize_ = t[7];
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        uint64_t numObjects = BigEndian(t + 8, 8);
        uint64_t top = BigEndian(t + 16, 8);
        tableOffset_ = BigEndian(t + 24, 8);
        const uint64_t limit = size_ - 32;
        if (tableOffset_ < 8 || tableOffset_ > limit || numObjects == 0 ||
            numObjects > (limit - tableOffset_) / offsetSize_ || top >= numObjects)
            return false;
        numObjects_ = numObjects;
        return Walk(top);
    }

private:
    static uint64_t BigEndian(const uint8_t* q, unsigned n) {
        uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | q[i];
        return v;
    }

    // Start of object i; 0 when its offset lies outside the object area.
    uint64_t ObjectStart(uint64_t i) const {
        uint64_t off = BigEndian(p_ + tableOffset_ + i * offsetSize_, offsetSize_);
        return off >= 8 && off < tableOffset_ ? off : 0;
    }

    // The element count of the object at `start` and where its contents begin.
    bool Count(uint64_t start, uint64_t* count, uint64_t* contents) const {
        uint8_t marker = p_[start];
        *count = marker & 0x0F;
        *contents = start + 1;
        if (*count != 0x0F) return true;
        if (start + 2 > tableOffset_) return false;
        uint8_t intMarker = p_[start + 1];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return false;
        unsigned n = 1u << (intMarker & 0x0F);
        if (start + 2 + n > tableOffset_) return false;
        *count = BigEndian(p_ + start + 2, n);
        *contents = start + 2 + n;
        return true;
    }

    // Checks object i's own bytes and lists the objects it refers to.
    bool Object(uint64_t i, std::vector<uint64_t>& children) const {
        children.clear();
        uint64_t start = ObjectStart(i);
        if (start == 0) return false;
        const uint8_t kind = p_[start] >> 4;
        if (kind != 0x5 && kind != 0x6 && kind != 0xA && kind != 0xC && kind != 0xD)
            return true;  // a scalar; libplist checks its size
        uint64_t count = 0, at = 0;
        if (!Count(start, &count, &at)) return false;
        const uint64_t room = tableOffset_ - at;
        if (kind == 0x5) {  // ASCII text
            if (count > room) return false;
            return std::memchr(p_ + at, 0, count) == nullptr;
        }
        if (kind == 0x6) {  // UTF-16 text
            if (count > room / 2) return false;
            for (uint64_t k = 0; k < count; ++k)
                if (p_[at + 2 * k] == 0 && p_[at + 2 * k + 1] == 0) return false;
            return true;
        }
        const uint64_t refs = kind == 0xD ? 2 : 1;
        if (count > room / refSize_ / refs) return false;
        for (uint64_t k = 0; k < count * refs; ++k) {
            uint64_t ref = BigEndian(p_ + at + k * refSize_, refSize_);
            if (ref >= numObjects_) return false;
            children.push_back(ref);
        }
        return true;
    }

    // Depth-first over the objects reachable from the top, iteratively. libplist
    // expands an object referred to from several places into copies, so what
    // counts is the longest path (height) and the size of the expanded tree.
    bool Walk(uint64_t top) {
        constexpr uint16_t kNew = 0, kOpen = 0xFFFF;
        std::vector<uint16_t> height(numObjects_, kNew);  // 1 + the children's, when done
        std::vector<uint32_t> expanded(numObjects_, 0);   // nodes after expansion, saturating
        struct Frame {
            uint64_t object;
            std::vector<uint64_t> children;
            size_t next = 0;
            uint16_t height = 1;
            uint64_t expanded = 1;
        };
        std::vector<Frame> stack;
        stack.push_back(Frame{top, {}});
        if (!Object(top, stack.back().children)) return false;
        height[top] = kOpen;
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.next == f.children.size()) {
                height[f.object] = f.height;
                expanded[f.object] = static_cast<uint32_t>(f.expanded);
                Frame done = std::move(f);
                stack.pop_back();
                if (!stack.empty()) {
                    Frame& parent = stack.back();
                    parent.height = std::max<uint16_t>(parent.height, done.height + 1);
                    parent.expanded += done.expanded;
                    if (parent.height > kMaxDepth || parent.expanded > kMaxExpandedNodes)
                        return false;
                }
                continue;
            }
            uint64_t child = f.children[f.next++];
            if (height[child] == kOpen) return false;  // a cycle
            if (height[child] != kNew) {
                f.height = std::max<uint16_t>(f.height, height[child] + 1);
                f.expanded += expanded[child];
                if (f.height > kMaxDepth || f.expanded > kMaxExpandedNodes) return false;
                continue;
            }
            if (stack.size() >= static_cast<size_t>(kMaxDepth)) return false;
            Frame next{child, {}};
            if (!Object(child, next.children)) return false;
            height[child] = kOpen;
            stack.push_back(std::move(next));
        }
        return true;
    }

    const uint8_t* p_;
    uint64_t size_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    uint64_t numObjects_ = 0;
    uint64_t tableOffset_ = 0;
};

bool InputAcceptable(const std::string& bytes) {
    if (bytes.size() >= 8 && bytes.compare(0, 8, "bplist00") == 0)
        return BinaryCheck(bytes).Run();
    return XmlNestingAcceptable(bytes);
}

int64_t RealToInteger(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);  // truncates toward zero
}

// libplist node -> Value; false when the node holds something we cannot represent
// or nests too deeply.
bool FromNode(plist_t node, Value& out, int depth) {
    if (!node || depth > kMaxDepth) return false;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            out = Value(b != 0);
            return true;
        }
        case PLIST_UINT:
        case PLIST_UID: {
            uint64_t u = 0;
            if (plist_get_node_type(node) == PLIST_UID)
                plist_get_uid_val(node, &u);
            else
                plist_get_uint_val(node, &u);
            // Negative integers are stored as their two's complement.
            out = Value(static_cast<long long>(static_cast<int64_t>(u)));
            return true;
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            out = Value(d);
            return true;
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            uint64_t len = 0;
            const char* p = plist_get_string_ptr(node, &len);
            out = Value(p ? std::string(p, static_cast<size_t>(len)) : std::string());
            return true;
        }
        case PLIST_DATA: {
            uint64_t len = 0;
            const char* p = plist_get_data_ptr(node, &len);
            Bytes bytes;
            if (p && len) bytes.assign(reinterpret_cast<const uint8_t*>(p),
                                       reinterpret_cast<const uint8_t*>(p) + len);
            out = Value(std::move(bytes));
            return true;
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            double fraction = static_cast<double>(usec) / 1e6;
            if (sec < 0 && usec > 0 && ReaderDropsFractionSign()) fraction = -fraction;
            out = Value(Date{static_cast<double>(sec) + fraction});
            return true;
        }
        case PLIST_ARRAY: {
            Array items;
            uint32_t n = plist_array_get_size(node);
            items.reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                Value item;
                if (!FromNode(plist_array_get_item(node, i), item, depth + 1)) return false;
                items.push_back(std::move(item));
            }
            out = Value(std::move(items));
            return true;
        }
        case PLIST_DICT: {
            Dictionary d;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            if (!it) return false;
            bool ok = true;
            for (;;) {
                char* key = nullptr;
                plist_t val = nullptr;
                plist_dict_next_item(node, it, &key, &val);
                if (!val) {
                    free(key);
                    break;
                }
                Value item;
                if (!key || !FromNode(val, item, depth + 1)) {
                    free(key);
                    ok = false;
                    break;
                }
                d[key] = std::move(item);
                free(key);
            }
            free(it);
            if (!ok) return false;
            out = Value(std::move(d));
            return true;
        }
        default:
            return false;
    }
}

// Value -> new libplist node (owned by the caller); null when the value cannot be
// written.
plist_t ToNode(const Value& v, int depth) {
    if (depth > kMaxDepth) return nullptr;
    switch (v.type()) {
        case Value::Type::Null:
            return nullptr;
        case Value::Type::Boolean:
            return plist_new_bool(v.asBool() ? 1 : 0);
        case Value::Type::Integer:
            return plist_new_uint(static_cast<uint64_t>(v.asInteger()));
        case Value::Type::Real:
            return plist_new_real(v.asReal());
        case Value::Type::String: {
            std::string s = v.asString();
            if (s.find('\0') != std::string::npos) return nullptr;
            return plist_new_string(s.c_str());
        }
        case Value::Type::Data: {
            const Bytes& b = *v.data();
            return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
        }
        case Value::Type::Date: {
            double s = v.date()->seconds;
            if (!std::isfinite(s)) return nullptr;
            double whole = std::floor(s);
            if (whole < std::numeric_limits<int32_t>::min() ||
                whole > std::numeric_limits<int32_t>::max())
                return nullptr;
            int32_t usec = static_cast<int32_t>(std::lround((s - whole) * 1e6));
            int32_t sec = static_cast<int32_t>(whole);
            if (usec >= 1000000) {
                if (sec == std::numeric_limits<int32_t>::max()) return nullptr;
                ++sec;
                usec -= 1000000;
            }
            return plist_new_date(sec, usec);
        }
        case Value::Type::Array: {
            plist_t node = plist_new_array();
            for (const Value& item : *v.array()) {
                plist_t child = ToNode(item, depth + 1);
                if (!child) {
                    plist_free(node);
                    return nullptr;
                }
                plist_array_append_item(node, child);
            }
            return node;
        }
        case Value::Type::Dictionary: {
            plist_t node = plist_new_dict();
            for (const auto& [key, item] : *v.dict()) {
                plist_t child = key.find('\0') == std::string::npos ? ToNode(item, depth + 1)
                                                                    : nullptr;
                if (!child) {
                    plist_free(node);
                    return nullptr;
                }
                plist_dict_set_item(node, key.c_str(), child);
            }
            return node;
        }
    }
    return nullptr;
}

}  // namespace

std::string Value::asString(const std::string& fallback) const {
    if (const auto* s = std::get_if<std::string>(&v_)) return *s;
    return fallback;
}

int64_t Value::asInteger(int64_t fallback) const {
    switch (type()) {
        case Type::Integer:
            return std::get<int64_t>(v_);
        case Type::Real:
            return RealToInteger(std::get<double>(v_));
        case Type::Boolean:
            return std::get<bool>(v_) ? 1 : 0;
        default:
            return fallback;
    }
}

double Value::asReal(double fallback) const {
    switch (type()) {
        case Type::Integer:
            return static_cast<double>(std::get<int64_t>(v_));
        case Type::Real:
            return std::get<double>(v_);
        case Type::Boolean:
            return std::get<bool>(v_) ? 1.0 : 0.0;
        default:
            return fallback;
    }
}

bool Value::asBool(bool fallback) const {
    switch (type()) {
        case Type::Integer:
            return std::get<int64_t>(v_) != 0;
        case Type::Real:
            return std::get<double>(v_) != 0.0;
        case Type::Boolean:
            return std::get<bool>(v_);
        default:
            return fallback;
    }
}

const Value* Value::find(const std::string& key) const {
    const Dictionary* d = dict();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

Value* Value::find(const std::string& key) {
    Dictionary* d = dict();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

Value& Value::operator[](const std::string& key) {
    if (isNull()) v_ = Dictionary();
    Dictionary* d = dict();
    if (!d) throw std::logic_error("property-list value is not a dictionary");
    return (*d)[key];
}

Value Parse(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxBytes || !InputAcceptable(bytes)) return Value();
    NodeHolder root;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root.node);
    if (!root.node) return Value();
    Value out;
    if (!FromNode(root.node, out, 0)) return Value();
    return out;
}

std::string Serialize(const Value& value, Format format) {
    NodeHolder root;
    root.node = ToNode(value, 0);
    if (!root.node) return std::string();
    char* text = nullptr;
    uint32_t length = 0;
    std::string out;
    if (format == Format::Binary) {
        plist_to_bin(root.node, &text, &length);
        if (text) {
            out.assign(text, length);
            plist_to_bin_free(text);
        }
    } else {
        plist_to_xml(root.node, &text, &length);
        if (text) {
            out.assign(text, length);
            plist_to_xml_free(text);
        }
    }
    return out;
}

Value ReadFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Value();
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<uint64_t>(st.st_size) > kMaxBytes) {
        ::close(fd);
        return Value();
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return Parse(bytes);
}

bool WriteFile(const Value& value, const std::string& path, Format format) {
    std::string bytes = Serialize(value, format);
    if (bytes.empty()) return false;
    std::string tmpl = path + ".XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // mkostemp makes the file private; give it the usual permissions.
    ::fchmod(fd, 0644);
    size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && std::rename(tmpl.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmpl.c_str());
    return ok;
}

}  // namespace plist
