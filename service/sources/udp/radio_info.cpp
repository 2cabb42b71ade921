#include "service/sources/udp/radio_info.h"

#include <pugixml.hpp>

#include <cstring>

#include "service/sources/wire_text.h"

namespace kelvane::svc {
namespace {

// 10 THz in tens of hertz: above every band, and hertz stay exact in a double.
constexpr std::uint64_t kMaxTensOfHertz = 1'000'000'000'000;

RadioInfoRead Refuse(std::string why) { return RadioInfoRead{std::nullopt, std::move(why)}; }

// The text of an element that holds text only (one text or CDATA node, or none).
bool PlainText(const pugi::xml_node& element, std::string_view& text) {
    text = {};
    int texts = 0;
    for (const pugi::xml_node& child : element.children()) {
        if (child.type() == pugi::node_comment) continue;
        if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) return false;
        if (++texts > 1) return false;
        text = child.value();
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// One of the elements read from under <RadioInfo>.
struct Field {
    const char* name;
    bool seen = false;
    std::string_view text;
};
using Fields = Field[4];

// The root's RadioNr, Freq, TXFreq and IsTransmitting; a refusal when one is
// given twice or holds more than text.
std::optional<RadioInfoRead> Collect(const pugi::xml_node& root, Fields& fields) {
    for (const pugi::xml_node& child : root.children()) {
        if (child.type() != pugi::node_element) continue;
        for (Field& f : fields) {
            if (std::strcmp(child.name(), f.name) != 0) continue;
            if (f.seen) return Refuse(std::string("<") + f.name + "> twice");
            f.seen = true;
            if (!PlainText(child, f.text)) return Refuse(std::string("<") + f.name + "> holds more than text");
        }
    }
    return std::nullopt;
}

RadioInfoRead Interpret(const Fields& fields) {
    const auto& [radioNr, freq, txFreq, isTx] = fields;
    RadioInfo info;
    std::uint64_t value = 0;
    std::string why;
    const auto bad = [&why](const Field& f) {
        return Refuse(std::string("<") + f.name + "> '" + Printable(f.text) + "': " + why);
    };
    if (radioNr.seen) {
        if (!ParseDigits(radioNr.text, kMaxRadioNr, value, why)) return bad(radioNr);
        if (value == 0) return Refuse("<RadioNr> 0: radios count from 1");
        info.radio = static_cast<int>(value);
    }
    if (!freq.seen) return Refuse("no <Freq>");
    if (!ParseDigits(freq.text, kMaxTensOfHertz, value, why)) return bad(freq);
    info.rxHertz = value * 10;
    if (txFreq.seen) {
        if (!ParseDigits(txFreq.text, kMaxTensOfHertz, value, why)) return bad(txFreq);
        info.txHertz = value * 10;
    }
    if (isTx.seen) {
        if (EqualsNoCase(isTx.text, "true")) {
            info.transmitting = true;
        } else if (EqualsNoCase(isTx.text, "false")) {
            info.transmitting = false;
        } else {
            why = "neither True nor False";
            return bad(isTx);
        }
    }
    return RadioInfoRead{info, {}};
}

}  // namespace

RadioInfoRead ReadRadioInfo(std::string_view datagram) {
    if (datagram.size() > kRadioInfoMaxBytes)
        return Refuse("datagram of " + std::to_string(datagram.size()) + " bytes, more than " +
                      std::to_string(kRadioInfoMaxBytes));
    if (datagram.substr(0, 2) == "\xFF\xFE" || datagram.substr(0, 2) == "\xFE\xFF") return Refuse("UTF-16 document");
    if (datagram.find('\0') != std::string_view::npos) return Refuse("byte 0 in the datagram (not UTF-8 text)");

    // The DOCTYPE is kept as a node only so that it can be refused: pugixml
    // never expands entities beyond the predefined ones and character references.
    constexpr unsigned kFlags = pugi::parse_default | pugi::parse_doctype;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(datagram.data(), datagram.size(), kFlags, pugi::encoding_utf8);
    if (!parsed)
        return Refuse(std::string("not XML (") + parsed.description() + " at byte " + std::to_string(parsed.offset) +
                      ")");
    int roots = 0;
    for (const pugi::xml_node& node : doc.children()) {
        if (node.type() == pugi::node_doctype) return Refuse("document with a DOCTYPE");
        if (node.type() == pugi::node_element && ++roots > 1) return Refuse("more than one root element");
    }
    const pugi::xml_node root = doc.document_element();
    if (std::strcmp(root.name(), "RadioInfo") != 0)
        return Refuse("root element <" + Printable(root.name()) + ">, not <RadioInfo>");
    Fields fields = {{"RadioNr", false, {}}, {"Freq", false, {}}, {"TXFreq", false, {}}, {"IsTransmitting", false, {}}};
    if (auto refused = Collect(root, fields)) return *refused;
    return Interpret(fields);
}

}  // namespace kelvane::svc
