#include "host/jsonparse.h"

#include <utility>
#include <vector>

namespace vexlar {
namespace host {

namespace {

// Builds the document like the library's own reader, appending members.
class domBuilder_t {
public:
    explicit domBuilder_t(json& root) : root(root) {}

    bool null() { return put(json(nullptr)); }
    bool boolean(bool v) { return put(json(v)); }
    bool number_integer(json::number_integer_t v) { return put(json(v)); }
    bool number_unsigned(json::number_unsigned_t v) { return put(json(v)); }
    bool number_float(json::number_float_t v, const json::string_t&) { return put(json(v)); }
    bool string(json::string_t& v) { return put(json(std::move(v))); }
    bool binary(json::binary_t& v) { return put(json::binary(std::move(v))); }
    bool start_object(std::size_t) { return open(json::object()); }
    bool start_array(std::size_t) { return open(json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(json::string_t& k) {
        auto& members = static_cast<members_t&>(*stack.back()->get_ptr<json::object_t*>());
        members.emplace_back(std::move(k), json());
        pending = &members.back().second;
        return true;
    }
    template <class E> bool parse_error(std::size_t, const std::string&, const E& e) { throw e; }

private:
    using members_t = std::vector<std::pair<const std::string, json>>;

    // Where the next value goes: the root, the last key's value, or the end
    // of the open array.
    json* place(json&& v) {
        if (stack.empty()) {
            root = std::move(v);
            return &root;
        }
        json& top = *stack.back();
        if (top.is_array()) {
            top.push_back(std::move(v));
            return &top.back();
        }
        *pending = std::move(v);
        return pending;
    }
    bool open(json&& v) {
        stack.push_back(place(std::move(v)));
        return true;
    }
    bool close() {
        stack.pop_back();
        return true;
    }
    bool put(json&& v) { return place(std::move(v)) != nullptr; }

    json& root;
    std::vector<json*> stack;
    json* pending = nullptr;
};

} // namespace

json parseSceneJson(const std::string& text) {
    json doc;
    domBuilder_t builder(doc);
    json::sax_parse(text, &builder, json::input_format_t::json, true, true);
    return doc;
}

} // namespace host
} // namespace vexlar
