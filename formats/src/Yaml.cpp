#include "formats/Yaml.h"

#include <yaml.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/BindingTypeInfo.h"
#include "binding/Converters.h"
#include "logging/Format.h"

namespace Tavo {
namespace {

using Kind = BindingProperty::Kind;

// Messages. Positions are "At line: L col: C", 1-based, except libyaml's own.
constexpr char kMultiDocument[] = "Multi-document YAML is not supported.";
constexpr char kDuplicateAnchor[] = "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";
constexpr char kInvalidKey[] =
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";
constexpr char kSequenceAsKey[] = "Unexpected start of sequence. At line: %1 col: %2";
constexpr char kMappingAsKey[] = "Unexpected start of mapping. At line: %1 col: %2";
constexpr char kCyclicAlias[] =
    "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
constexpr char kUndefinedAlias[] = "Undefined alias encountered: \"%1\". At line: %2 col: %3";
constexpr char kParserError[] = "YAML parser error: %1. At line: %2 col: %3";
constexpr char kUnsupportedTag[] = "Unsupported YAML tag '%1'.";
constexpr char kTooDeep[] = "Nesting deeper than %1 levels. At line: %2 col: %3";
constexpr char kAliasBudget[] = "Aliases expand to more than %1 values. At line: %2 col: %3";
constexpr char kOutOfMemory[] = "Not enough memory to read the YAML document.";
constexpr char kUnreadable[] = "Cannot read the YAML document: %1";

constexpr std::string_view kTagStr = "tag:yaml.org,2002:str";
constexpr std::string_view kTagInt = "tag:yaml.org,2002:int";
constexpr std::string_view kTagFloat = "tag:yaml.org,2002:float";
constexpr std::string_view kTagBool = "tag:yaml.org,2002:bool";

// Converter field name and type names used in tagged-number messages.
constexpr std::string_view kConverterPath = "yaml";

std::string_view Text(const yaml_char_t* text) {
    return text == nullptr ? std::string_view()
                           : std::string_view(reinterpret_cast<const char*>(text));
}

bool IsNullWord(std::string_view text) {
    return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

// 1 for a true word, 0 for a false word, -1 for anything else. Exact match.
int BoolWord(std::string_view text) {
    struct Word {
        std::string_view text;
        int value = -1;
    };
    // By length: a text is compared only with the words of its size. Unused
    // places are empty and match no text here.
    static constexpr Word kWords[6][6] = {
        {},
        {{"y", 1}, {"Y", 1}, {"n", 0}, {"N", 0}},
        {{"on", 1}, {"On", 1}, {"ON", 1}, {"no", 0}, {"No", 0}, {"NO", 0}},
        {{"yes", 1}, {"Yes", 1}, {"YES", 1}, {"off", 0}, {"Off", 0}, {"OFF", 0}},
        {{"true", 1}, {"True", 1}, {"TRUE", 1}},
        {{"false", 0}, {"False", 0}, {"FALSE", 0}},
    };
    if (text.empty() || text.size() >= std::size(kWords)) {
        return -1;
    }
    for (const Word& word : kWords[text.size()]) {
        if (word.text == text) {
            return word.value;
        }
    }
    return -1;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The base (10 or 16) when `text` is an integer literal strtoull/strtoll read
// exactly: blanks, a sign, then decimal digits or "0x" and hex digits, up to
// the end. 0 otherwise.
int IntegerLiteralBase(std::string_view text, bool& negative) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) {
        return 0;
    }
    for (; i < text.size(); ++i) {
        if (base == 10 ? !IsDigit(text[i]) : !IsHexDigit(text[i])) {
            return 0;
        }
    }
    return base;
}

enum class Literal { NotInteger, Stored, OutOfRange };

// Stores `text` as an integer when it is an integer literal in the 64-bit
// ranges. `text` is NUL-terminated at its end.
Literal StoreExactInteger(const char* text, std::string_view view, BindingProperty& out) {
    bool negative = false;
    const int base = IntegerLiteralBase(view, negative);
    if (base == 0) {
        return Literal::NotInteger;
    }
    // IntegerLiteralBase has checked the whole text: no end pointer needed.
    errno = 0;
    if (negative) {
        const long long value = std::strtoll(text, nullptr, base);
        if (errno == ERANGE) {
            return Literal::OutOfRange;
        }
        // "-0" is not below zero: it reads as unsigned 0.
        if (value == 0) {
            out.SetUnsigned(std::uint64_t{0});
        } else {
            out.SetSigned(static_cast<std::int64_t>(value));
        }
        return Literal::Stored;
    }
    const unsigned long long value = std::strtoull(text, nullptr, base);
    if (errno == ERANGE) {
        return Literal::OutOfRange;
    }
    out.SetUnsigned(static_cast<std::uint64_t>(value));
    return Literal::Stored;
}

// Stores a finite double read from a text that is not an integer literal:
// an integer when it is integral, inside the 64-bit ranges and did not
// underflow, else a float. NaN stays a float.
void StoreReadDouble(double value, bool underflow, BindingProperty& out) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    constexpr double kTwoTo64 = 18446744073709551616.0;
    // Integral exactly when the truncating conversion gives it back; NaN
    // fails every comparison.
    if (!underflow) {
        if (value < 0 && value >= -kTwoTo63) {
            const auto whole = static_cast<std::int64_t>(value);
            if (static_cast<double>(whole) == value) {
                out.SetSigned(whole);
                return;
            }
        } else if (value >= 0 && value < kTwoTo64) {
            const auto whole = static_cast<std::uint64_t>(value);
            if (static_cast<double>(whole) == value) {
                out.SetUnsigned(whole);
                return;
            }
        }
    }
    out.SetFloat(value);
}

// Whether strtod may read a text starting with `first` whole: a digit, a
// blank, a sign, '.', or the 'i'/'I' and 'n'/'N' of infinity and NaN.
bool MayStartNumber(char first) {
    return IsDigit(first) || IsSpace(first) || first == '+' || first == '-' || first == '.' ||
           first == 'i' || first == 'I' || first == 'n' || first == 'N';
}

// Number recognition for untagged plain scalars: the whole text must be read
// by strtod and not be infinite (NaN counts). Integral values become integers;
// integer literals are read exactly rather than through a double, so large
// integers keep every digit. Integer literals outside the 64-bit ranges,
// other integral values outside them, and values that underflowed, stay
// floats.
// `text` is NUL-terminated at its end.
bool ResolveNumber(const char* text, std::string_view view, BindingProperty& out) {
    if (view.empty()) {
        return false;
    }
    // Cheap rejection of what strtod can never read whole; spares strtod
    // for every ordinary word.
    if (!MayStartNumber(view.front())) {
        return false;
    }
    const Literal literal = StoreExactInteger(text, view, out);
    if (literal == Literal::Stored) {
        return true;
    }
    double value = 0.0;
    bool underflow = false;
    // from_chars reads strtod's decimal syntax, minus a leading "+" and blanks,
    // and rounds the same way, several times faster; whatever it leaves or
    // cannot hold goes to strtod itself.
    const auto [end, error] =
        std::from_chars(view.data(), view.data() + view.size(), value, std::chars_format::general);
    if (error != std::errc() || end != view.data() + view.size()) {
        errno = 0;
        char* strtodEnd = nullptr;
        value = std::strtod(text, &strtodEnd);
        if (strtodEnd != text + view.size()) {
            return false;
        }
        underflow = errno == ERANGE;
    }
    if (std::isinf(value)) {
        return false;
    }
    if (literal == Literal::OutOfRange) {
        // Rounded to a double it could land back inside the range (2^63).
        out.SetFloat(value);
        return true;
    }
    StoreReadDouble(value, underflow, out);
    return true;
}

// The value of the 8 ASCII digits at `text`, or -1 when one of the 8 bytes
// is not a digit: all 8 tested and combined at once in one 64-bit word.
std::int64_t EightDigits(const char* text) {
    std::uint64_t word = 0;
    std::memcpy(&word, text, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);  // the first digit in the low byte
    }
    // A byte below '0' borrows into its top bit on the subtraction, one
    // above '9' carries into it on the addition.
    if ((((word + 0x4646464646464646u) | (word - 0x3030303030303030u)) & 0x8080808080808080u) !=
        0) {
        return -1;
    }
    word -= 0x3030303030303030u;
    word = word * 10 + (word >> 8);  // pairs of digits in every other byte
    constexpr std::uint64_t kMask = 0x000000FF000000FFu;
    constexpr std::uint64_t kMul1 = 100 + (std::uint64_t{1000000} << 32);
    constexpr std::uint64_t kMul2 = 1 + (std::uint64_t{10000} << 32);
    return static_cast<std::int64_t>(
        (((word & kMask) * kMul1) + (((word >> 16) & kMask) * kMul2)) >> 32);
}

// Stores a decimal integer of at most 19 digits (18 below zero), which
// cannot overflow: the commonest numbers, read without strtoull. False, and
// nothing stored, for any other text.
bool StoreShortDecimal(std::string_view text, BindingProperty& out) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::size_t digits = text.size() - (negative ? 1 : 0);
    if (digits == 0 || digits > (negative ? 18u : 19u)) {
        return false;
    }
    std::uint64_t value = 0;
    std::size_t i = negative ? 1 : 0;
    for (; text.size() - i >= 8; i += 8) {
        const std::int64_t eight = EightDigits(text.data() + i);
        if (eight < 0) {
            return false;
        }
        value = value * 100000000 + static_cast<std::uint64_t>(eight);
    }
    for (; i < text.size(); ++i) {
        const auto digit = static_cast<unsigned>(text[i]) - '0';
        if (digit > 9) {
            return false;
        }
        value = value * 10 + digit;
    }
    // "-0" is not below zero: it reads as unsigned 0, as strtoll's 0 does.
    if (negative && value != 0) {
        out.SetSigned(-static_cast<std::int64_t>(value));
    } else {
        out.SetUnsigned(value);
    }
    return true;
}

// Stores a finite decimal number with a fraction or an exponent that
// from_chars reads whole (the commonest floats). False, and nothing stored,
// for any other text, which the general rule then reads: integer literals
// (exact, not through a double), infinities, NaN, values from_chars cannot
// hold and whatever it leaves unread.
bool StoreDecimalFloat(std::string_view text, BindingProperty& out) {
    const char* const end = text.data() + text.size();
    double value = 0.0;
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (error != std::errc() || stop != end || !std::isfinite(value)) {
        return false;
    }
    // Read whole, the text holds only a sign, digits, '.' and an exponent:
    // without the last two it is an integer literal.
    const bool integerLiteral = std::none_of(
        text.begin(), text.end(), [](char c) { return c == '.' || c == 'e' || c == 'E'; });
    if (integerLiteral) {
        return false;
    }
    StoreReadDouble(value, false, out);
    return true;
}

// Resolves an untagged scalar that is not quoted: empty, a number, a bool
// word, else a string, in that order. The first byte sends most texts
// straight to the one or two kinds they can still be; the rest take each
// test in turn. `chars` is NUL-terminated at the end of `text`.
void ResolvePlain(const char* chars, std::string_view text, BindingProperty& target) {
    if (text.empty()) {
        target.Clear();
        return;
    }
    const char first = text.front();
    if ((IsDigit(first) || first == '-' || first == '.') &&
        (StoreShortDecimal(text, target) || StoreDecimalFloat(text, target))) {
        return;
    }
    // Null words start with '~' or 'n'/'N': any other first byte that
    // cannot start a number leaves only a bool word or a string.
    if (first == '~' || MayStartNumber(first)) {
        if (IsNullWord(text)) {
            target.Clear();
            return;
        }
        if (ResolveNumber(chars, text, target)) {
            return;
        }
    }
    if (const int word = BoolWord(text); word >= 0) {
        target.SetBool(word == 1);
    } else {
        target.SetString(text);
    }
}

// Copying or comparing text costs in proportion to its length: every
// kTextBytesPerValue bytes of a string or key count as one more value
// against the alias budget.
constexpr std::size_t kTextBytesPerValue = 16;

std::size_t TextCost(std::size_t bytes) {
    return bytes / kTextBytesPerValue;
}

// Adds the cost of copying `node`'s tree to `cost` (one per value, plus its
// texts) and raises `depth` to its container depth (counted from `level`);
// stops early once `cost` passes `limit`. Trees built here are at most
// kYamlMaxDepth containers deep, which bounds the recursion.
void MeasureTree(const BindingProperty& node, std::size_t level, std::size_t limit,
                 std::size_t& cost, std::size_t& depth) {
    ++cost;
    const Kind kind = node.GetKind();
    if (kind == Kind::String) {
        cost += TextCost(node.Size());
        return;
    }
    if (kind != Kind::Collection && kind != Kind::Structure) {
        return;
    }
    depth = std::max(depth, level + 1);
    if (kind == Kind::Collection) {
        for (const BindingProperty& element : node.Elements()) {
            if (cost > limit) {
                return;
            }
            MeasureTree(element, level + 1, limit, cost, depth);
        }
    } else {
        for (const auto& field : node.Fields()) {
            if (cost > limit) {
                return;
            }
            cost += TextCost(field.key.Size());
            MeasureTree(field.value, level + 1, limit, cost, depth);
        }
    }
}

// One step from a node to a child: the root itself, an element index or a
// field name.
struct PathStep {
    std::string name;
    std::uint32_t index = 0;
    enum class Type : std::uint8_t { Root, Index, Name } type = Type::Root;
};

// A step kept for anchors: paths share their prefixes, so remembering a path
// costs one node however deep the anchor sits.
constexpr std::size_t kNoPath = static_cast<std::size_t>(-1);

struct PathNode {
    std::size_t parent = kNoPath;
    PathStep step;
};

struct Anchor {
    // The anchored node's path; unused for a key anchor.
    std::size_t pathNode = kNoPath;
    bool isKey = false;
    // Key anchors and scalars without a tag or with !!str: their text can
    // stand as a mapping key.
    bool usableAsKey = false;
    // Open nodes that hold this anchor now (0 or 1: names are unique).
    std::size_t holders = 0;
    std::string text;
};

// An open node: the value being filled and how its parent reaches it. Plain
// data, so that opening and closing one copies a few words: a field's name
// lives in the builder's name stack, not here.
struct OpenNode {
    BindingProperty* value = nullptr;
    // The anchor this node holds now: its own, or for a mapping the anchor of
    // its latest anchored key, which replaces the one before. Points into
    // the anchor table, whose entries never move.
    Anchor* anchor = nullptr;
    std::size_t pathNode = kNoPath;  // index in the path nodes once an anchor needed it
    // A field: its name is names_[nameBegin, nameEnd).
    std::size_t nameBegin = 0;
    std::size_t nameEnd = 0;
    std::uint32_t index = 0;  // an element: its index
    // A sequence: the index its next element gets.
    std::uint32_t nextIndex = 0;
    PathStep::Type type = PathStep::Type::Root;
    bool container = false;  // a sequence or mapping was started on it
};

// Releases an event on every path out of a scope.
class EventGuard {
public:
    explicit EventGuard(yaml_event_t& event) : event_(event) {}
    ~EventGuard() { yaml_event_delete(&event_); }
    EventGuard(const EventGuard&) = delete;
    EventGuard& operator=(const EventGuard&) = delete;

private:
    yaml_event_t& event_;
};

class ParserGuard {
public:
    explicit ParserGuard(yaml_parser_t& parser) : parser_(parser) {}
    ~ParserGuard() { yaml_parser_delete(&parser_); }
    ParserGuard(const ParserGuard&) = delete;
    ParserGuard& operator=(const ParserGuard&) = delete;

private:
    yaml_parser_t& parser_;
};

// Builds one tree from the events of one parse. Stops at the first failure,
// which it records in the result; the tree built so far is then dropped.
class YamlBuilder {
public:
    YamlBuilder(BindingResult& result, std::size_t inputSize)
        : result_(result),
          aliasBudget_(inputSize > kYamlAliasBudgetCeiling / kYamlAliasBudgetPerByte
                           ? kYamlAliasBudgetCeiling
                           : std::max(inputSize * kYamlAliasBudgetPerByte, kYamlAliasBudgetFloor)) {
        OpenNode root;
        root.value = &result_.Value();
        stack_.push_back(root);
    }

    // Applies one event; false once the parse has failed.
    bool OnEvent(const yaml_event_t& event);

private:
    enum class Position { Key, Value };

    bool Fail(std::string_view message) {
        result_.Fail(message);
        return false;
    }
    static std::size_t Line(const yaml_event_t& event) { return event.start_mark.line + 1; }
    static std::size_t Column(const yaml_event_t& event) { return event.start_mark.column + 1; }

    // Chooses what the next node event fills (see the definition) and
    // leaves it in next_, not yet open.
    Position SelectTarget();
    // Opens next_: it becomes the innermost open node.
    void Enter() {
        if (nextIsChild_) {
            stack_.push_back(next_);
        }
    }
    // Done with next_ without opening it (a scalar without an anchor).
    void Discard() {
        if (!nextIsChild_) {
            Pop();
        } else if (next_.type == PathStep::Type::Name) {
            names_.resize(next_.nameBegin);
        }
    }
    void Pop() {
        const OpenNode& node = stack_.back();
        if (node.container) {
            --depth_;
        }
        if (node.type == PathStep::Type::Name) {
            names_.resize(node.nameBegin);
        }
        Hold(stack_.back(), nullptr);
        stack_.pop_back();
    }
    std::string_view NameOf(const OpenNode& node) const {
        return std::string_view(names_).substr(node.nameBegin, node.nameEnd - node.nameBegin);
    }
    static bool SameStep(const PathStep& step, const OpenNode& node, std::string_view name) {
        return step.type == node.type && step.index == node.index && step.name == name;
    }
    // Makes `text` the pending key, on top of the name stack.
    void SetPendingKey(std::string_view text) {
        pendingKeyBegin_ = names_.size();
        names_.append(text);
        hasPendingKey_ = true;
    }
    std::string_view PendingKey() const {
        return std::string_view(names_).substr(pendingKeyBegin_);
    }
    // Makes `node` hold `anchor` (or nothing) in place of what it held.
    static void Hold(OpenNode& node, Anchor* anchor) {
        if (node.anchor != nullptr) {
            --node.anchor->holders;
        }
        node.anchor = anchor;
        if (anchor != nullptr) {
            ++anchor->holders;
        }
    }
    std::size_t MaterializePath(std::size_t entry);
    bool Charge(const yaml_event_t& event, std::size_t cost);
    // Enters `anchor` under `name`; null (and the parse failed) when the name
    // is taken.
    Anchor* Remember(const yaml_event_t& event, std::string_view name, Anchor anchor);

    bool OnAlias(const yaml_event_t& event);
    bool OnScalar(const yaml_event_t& event);
    bool OnContainerStart(const yaml_event_t& event, bool mapping);
    bool ResolveScalar(const yaml_event_t& event, BindingProperty& target);

    BindingResult& result_;
    std::vector<OpenNode> stack_;
    std::vector<PathNode> pathNodes_;
    std::unordered_map<std::string, Anchor> anchors_;
    std::vector<std::size_t> chain_;  // scratch: an anchor's path, root first
    // The names of the open fields, innermost last, then the pending key.
    std::string names_;
    std::size_t pendingKeyBegin_ = 0;
    bool hasPendingKey_ = false;
    // The target chosen by SelectTarget: a new element or field (a child),
    // or else the innermost open node itself.
    OpenNode next_;
    bool nextIsChild_ = false;
    bool documentStarted_ = false;
    std::size_t depth_ = 0;  // open sequences and mappings
    std::size_t aliasBudget_;
    std::size_t aliasSpent_ = 0;
};

// Chooses what the next node event fills. The innermost collection gets a new
// element; the innermost mapping gets the field of the pending key, or, with
// no key pending, the event is in key position. Otherwise the innermost node
// (the root) is filled itself. A pushed element or field is always in value
// position, whatever it already holds (a repeated key reaches its earlier
// value: a mapping merges into it, a sequence appends, a scalar or alias
// replaces it).
YamlBuilder::Position YamlBuilder::SelectTarget() {
    OpenNode& parent = stack_.back();
    BindingProperty& node = *parent.value;
    // The top of the stack is the root or a sequence or mapping its own
    // start event opened (any other node is filled and closed by the event
    // that opens it), so a collection here has its next index counted.
    if (node.GetKind() == Kind::Collection) {
        next_ = OpenNode();
        next_.type = PathStep::Type::Index;
        next_.index = parent.nextIndex++;
        next_.value = &node.Append();
        nextIsChild_ = true;
        return Position::Value;
    }
    if (node.GetKind() == Kind::Structure) {
        if (!hasPendingKey_) {
            return Position::Key;
        }
        // The pending key, on top of the name stack, becomes the field's name.
        next_ = OpenNode();
        next_.type = PathStep::Type::Name;
        next_.nameBegin = pendingKeyBegin_;
        next_.nameEnd = names_.size();
        next_.value = &node.Field(PendingKey());
        hasPendingKey_ = false;
        nextIsChild_ = true;
        return Position::Value;
    }
    nextIsChild_ = false;
    next_ = parent;
    return Position::Value;
}

// The path node of stack entry `entry`, creating the missing ones below it.
// An entry's path node is made together with those of all entries below it,
// so a materialized entry never sits above one that is not.
std::size_t YamlBuilder::MaterializePath(std::size_t entry) {
    std::size_t first = entry;
    while (first > 0 && stack_[first - 1].pathNode == kNoPath) {
        --first;
    }
    if (stack_[first].pathNode != kNoPath) {
        return stack_[entry].pathNode;
    }
    for (std::size_t i = first; i <= entry; ++i) {
        PathNode node;
        node.parent = i == 0 ? kNoPath : stack_[i - 1].pathNode;
        node.step.type = stack_[i].type;
        node.step.index = stack_[i].index;
        node.step.name.assign(NameOf(stack_[i]));
        pathNodes_.push_back(std::move(node));
        stack_[i].pathNode = pathNodes_.size() - 1;
    }
    return stack_[entry].pathNode;
}

// Takes `cost` out of the alias budget, or fails when it is spent.
bool YamlBuilder::Charge(const yaml_event_t& event, std::size_t cost) {
    if (cost > aliasBudget_ - aliasSpent_) {
        return Fail(Format(kAliasBudget, aliasBudget_, Line(event), Column(event)));
    }
    aliasSpent_ += cost;
    return true;
}

Anchor* YamlBuilder::Remember(const yaml_event_t& event, std::string_view name, Anchor anchor) {
    auto [it, inserted] = anchors_.try_emplace(std::string(name));
    if (!inserted) {
        Fail(Format(kDuplicateAnchor, name, Line(event), Column(event)));
        return nullptr;
    }
    it->second = std::move(anchor);
    return &it->second;
}

bool YamlBuilder::OnEvent(const yaml_event_t& event) {
    switch (event.type) {
        case YAML_STREAM_START_EVENT:
        case YAML_DOCUMENT_END_EVENT:
        case YAML_STREAM_END_EVENT:
        case YAML_NO_EVENT:
            return true;
        case YAML_DOCUMENT_START_EVENT:
            if (documentStarted_) {
                return Fail(kMultiDocument);
            }
            documentStarted_ = true;
            return true;
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT:
            // libyaml never ends a mapping between a key and its value.
            if (hasPendingKey_) {
                names_.resize(pendingKeyBegin_);
                hasPendingKey_ = false;
            }
            if (stack_.empty()) {
                return Fail(Format(kUnreadable, "unbalanced end event"));
            }
            Pop();
            return true;
        default:
            break;
    }
    // A node event. Only one root node exists per document, and a second
    // document fails above, so the stack cannot be empty here.
    if (stack_.empty()) {
        return Fail(Format(kUnreadable, "node event after the root"));
    }
    switch (event.type) {
        case YAML_ALIAS_EVENT:
            return OnAlias(event);
        case YAML_SCALAR_EVENT:
            return OnScalar(event);
        case YAML_SEQUENCE_START_EVENT:
            return OnContainerStart(event, false);
        case YAML_MAPPING_START_EVENT:
            return OnContainerStart(event, true);
        default:
            return true;
    }
}

// Aliases are charged to the alias budget for what they copy and for the
// anchor path they compare and walk, so that their total work stays in
// proportion to the input.
bool YamlBuilder::OnAlias(const yaml_event_t& event) {
    const std::string_view name = Text(event.data.alias.anchor);
    const std::size_t openBefore = stack_.size();
    const Position position = SelectTarget();
    const auto found = anchors_.find(std::string(name));
    if (found == anchors_.end()) {
        return Fail(Format(kUndefinedAlias, name, Line(event), Column(event)));
    }
    const Anchor& anchor = found->second;
    if (position == Position::Key) {
        // As a mapping key an alias stands for the text of an anchored key or
        // string-like scalar; a sequence or mapping cannot be a key.
        if (!anchor.usableAsKey) {
            return Fail(Format(kInvalidKey, Line(event), Column(event)));
        }
        if (!Charge(event, 1 + TextCost(anchor.text.size()))) {
            return false;
        }
        SetPendingKey(anchor.text);
        return true;
    }

    Enter();
    BindingProperty& target = *stack_.back().value;
    if (anchor.isKey) {
        // Cyclic only while an open mapping holds the key's anchor now: a
        // later anchored key of that mapping takes its place, and a closed
        // mapping holds nothing.
        if (anchor.holders != 0) {
            return Fail(Format(kCyclicAlias, name, Line(event), Column(event)));
        }
        if (!Charge(event, 1 + TextCost(anchor.text.size()))) {
            return false;
        }
        target.SetString(anchor.text);
        Pop();
        return true;
    }

    chain_.clear();
    std::size_t pathCost = 0;
    for (std::size_t node = anchor.pathNode; node != kNoPath; node = pathNodes_[node].parent) {
        chain_.push_back(node);
        pathCost += 1 + TextCost(pathNodes_[node].step.name.size());
    }
    std::reverse(chain_.begin(), chain_.end());
    if (!Charge(event, pathCost)) {
        return false;
    }
    // Cyclic: the anchored node is one of the nodes still open around this
    // alias, which holds its anchor unless an anchored key of the mapping
    // took its place. Compared by path, which covers both, and so a mapping
    // reopened through a repeated key counts as the same node: copying an
    // open node into itself is refused however its anchor is held.
    if (chain_.size() <= openBefore) {
        bool prefix = true;
        for (std::size_t i = 0; i < chain_.size() && prefix; ++i) {
            prefix = SameStep(pathNodes_[chain_[i]].step, stack_[i], NameOf(stack_[i]));
        }
        if (prefix) {
            return Fail(Format(kCyclicAlias, name, Line(event), Column(event)));
        }
    }

    const BindingProperty* source = &result_.Value();
    for (std::size_t i = 1; i < chain_.size(); ++i) {
        const PathStep& step = pathNodes_[chain_[i]].step;
        source = step.type == PathStep::Type::Index ? &source->ElementAt(step.index)
                                                    : &source->Find(step.name);
    }
    // The copy must fit in what is left of the budget and under the depth
    // limit.
    const std::size_t remaining = aliasBudget_ - aliasSpent_;
    std::size_t cost = 0;
    std::size_t sourceDepth = 0;
    MeasureTree(*source, 0, remaining, cost, sourceDepth);
    if (!Charge(event, cost)) {
        return false;
    }
    if (depth_ + sourceDepth > kYamlMaxDepth) {
        return Fail(Format(kTooDeep, kYamlMaxDepth, Line(event), Column(event)));
    }

    if (source != &target) {
        if (target.IsEmpty()) {
            target = *source;
        } else {
            // A repeated key's earlier value may contain the source: copy it
            // out before the target is cleared.
            BindingProperty copy(*source);
            target = std::move(copy);
        }
    }
    Pop();
    return true;
}

bool YamlBuilder::OnScalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
    const std::string_view tag = Text(scalar.tag);
    const std::string_view anchorName = Text(scalar.anchor);

    if (SelectTarget() == Position::Key) {
        if (!tag.empty() && tag != kTagStr) {
            return Fail(Format(kInvalidKey, Line(event), Column(event)));
        }
        SetPendingKey(text);
        if (scalar.anchor != nullptr) {
            // Recorded on the mapping holding the key, in place of the anchor
            // it held.
            Anchor anchor;
            anchor.isKey = true;
            anchor.usableAsKey = true;
            anchor.text.assign(text);
            Anchor* const entered = Remember(event, anchorName, std::move(anchor));
            if (entered == nullptr) {
                return false;
            }
            Hold(stack_.back(), entered);
        }
        return true;
    }

    if (scalar.anchor == nullptr) {
        // Nothing refers to this node's place: fill it without opening it.
        if (!ResolveScalar(event, *next_.value)) {
            return false;
        }
        Discard();
        return true;
    }
    Enter();
    if (!ResolveScalar(event, *stack_.back().value)) {
        return false;
    }
    Anchor anchor;
    anchor.pathNode = MaterializePath(stack_.size() - 1);
    anchor.usableAsKey = tag.empty() || tag == kTagStr;
    if (anchor.usableAsKey) {
        anchor.text.assign(text);
    }
    if (Remember(event, anchorName, std::move(anchor)) == nullptr) {
        return false;
    }
    Pop();
    return true;
}

bool YamlBuilder::ResolveScalar(const yaml_event_t& event, BindingProperty& target) {
    const auto& scalar = event.data.scalar;
    const char* chars = reinterpret_cast<const char*>(scalar.value);
    const std::string_view text(chars, scalar.length);
    const std::string_view tag = Text(scalar.tag);

    if (tag.empty()) {
        const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                            scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
        if (quoted) {
            target.SetString(text);
        } else {
            ResolvePlain(chars, text, target);
        }
        return true;
    }
    if (tag == kTagStr) {
        target.SetString(text);
        return true;
    }
    if (tag == kTagInt) {
        // The converters fail the result itself, with their own message.
        if (!text.empty() && text.front() == '-') {
            const std::int64_t value =
                SignedFromText(result_, text, kConverterPath, BindingNativeKind::Int64, "int64_t");
            if (!result_.IsOk()) {
                return false;
            }
            target.SetSigned(value);
        } else {
            const std::uint64_t value = UnsignedFromText(result_, text, kConverterPath,
                                                         BindingNativeKind::UInt64, "uint64_t");
            if (!result_.IsOk()) {
                return false;
            }
            target.SetUnsigned(value);
        }
        return true;
    }
    if (tag == kTagFloat) {
        const double value =
            FloatingFromText(result_, text, kConverterPath, BindingNativeKind::Double, "double");
        if (!result_.IsOk()) {
            return false;
        }
        target.SetFloat(value);
        return true;
    }
    if (tag == kTagBool) {
        const int word = BoolWord(text);
        if (word >= 0) {
            target.SetBool(word == 1);
        } else {
            target.Clear();
        }
        return true;
    }
    return Fail(Format(kUnsupportedTag, tag));
}

bool YamlBuilder::OnContainerStart(const yaml_event_t& event, bool mapping) {
    if (SelectTarget() == Position::Key) {
        return Fail(Format(mapping ? kMappingAsKey : kSequenceAsKey, Line(event), Column(event)));
    }
    if (depth_ >= kYamlMaxDepth) {
        return Fail(Format(kTooDeep, kYamlMaxDepth, Line(event), Column(event)));
    }
    Enter();
    OpenNode& node = stack_.back();
    if (mapping) {
        node.value->MakeStructure();
    } else {
        // A sequence reopened through a repeated key appends to its elements.
        const bool reopened = node.value->GetKind() == Kind::Collection;
        node.value->MakeCollection();
        node.nextIndex = reopened ? static_cast<std::uint32_t>(node.value->Size()) : 0;
    }
    node.container = true;
    ++depth_;
    const yaml_char_t* anchorName =
        mapping ? event.data.mapping_start.anchor : event.data.sequence_start.anchor;
    if (anchorName != nullptr) {
        Anchor anchor;
        anchor.pathNode = MaterializePath(stack_.size() - 1);
        Anchor* const entered = Remember(event, Text(anchorName), std::move(anchor));
        if (entered == nullptr) {
            return false;
        }
        Hold(stack_.back(), entered);
    }
    return true;
}

// libyaml's 0-based line and column of byte `offset` of `text`, counted as
// its scanner counts them: a line ends at "\r\n", "\r", "\n", U+0085, U+2028
// or U+2029, and a column is one character, not one byte. The bytes before a
// reader error's offset are valid UTF-8 (the reader checked them).
void PositionOfOffset(std::string_view text, std::size_t offset, std::size_t& line,
                      std::size_t& column) {
    line = 0;
    column = 0;
    const std::size_t end = std::min(offset, text.size());
    for (std::size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = [&](std::size_t k) {
            return i + k < end ? static_cast<unsigned char>(text[i + k]) : 0u;
        };
        if (c == '\r' && next(1) == '\n') {
            ++i;
            ++line;
            column = 0;
        } else if (c == '\r' || c == '\n' || (c == 0xC2 && next(1) == 0x85) ||
                   (c == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9))) {
            i += c < 0x80 ? 0 : c == 0xC2 ? 1 : 2;
            ++line;
            column = 0;
        } else if ((c & 0xC0) != 0x80) {
            ++column;  // the first byte of a character
        }
    }
}

void Parse(std::string_view text, BindingResult& result) {
    yaml_parser_t parser;
    if (yaml_parser_initialize(&parser) == 0) {
        result.Fail(kOutOfMemory);
        return;
    }
    ParserGuard parserGuard(parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    // libyaml wants a non-null input even when it is empty.
    const char* data = text.data() != nullptr ? text.data() : "";
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(data),
                                 text.size());

    YamlBuilder builder(result, text.size());
    for (;;) {
        yaml_event_t event;
        if (yaml_parser_parse(&parser, &event) == 0) {
            if (parser.error == YAML_MEMORY_ERROR || parser.problem == nullptr) {
                result.Fail(kOutOfMemory);
            } else if (parser.error == YAML_READER_ERROR) {
                // The reader gives its place as a byte offset; its mark is empty.
                std::size_t line = 0;
                std::size_t column = 0;
                PositionOfOffset(text, parser.problem_offset, line, column);
                result.Fail(Format(kParserError, parser.problem, line, column));
            } else {
                result.Fail(Format(kParserError, parser.problem, parser.problem_mark.line,
                                   parser.problem_mark.column));
            }
            return;
        }
        EventGuard eventGuard(event);
        if (event.type == YAML_STREAM_END_EVENT || !builder.OnEvent(event)) {
            return;
        }
    }
}

}  // namespace

BindingResult ParseYaml(std::string_view text) {
    BindingResult result;
    try {
        Parse(text, result);
    } catch (const std::bad_alloc&) {
        result.Fail(kOutOfMemory);
    } catch (const std::exception& error) {
        result.Fail(Format(kUnreadable, error.what()));
    }
    return result;
}

}  // namespace Tavo
