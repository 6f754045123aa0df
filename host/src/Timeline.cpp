#include "Timeline.h"

#include "formats/JsonWriter.h"

namespace Tavo::Host {

std::string QuoteJson(std::string_view text) {
    BindingProperty value;
    value.SetString(text);
    return WriteJson(value);
}

void Timeline::Add(VirtualTime time, std::string_view kind, std::string_view text,
                   const BindingProperty& details) {
    std::string line;
    if (format_ == TimelineFormat::Text) {
        line = FormatVirtualTime(time);
        line += "  ";
        line += kind;
        constexpr std::size_t kKindWidth = 10;
        line.append(kind.size() < kKindWidth ? kKindWidth - kind.size() : 0, ' ');
        line += ' ';
        line += text;
    } else {
        BindingProperty json;
        if (details.GetKind() == BindingProperty::Kind::Structure) {
            json = details;
        }
        json.Field("kind").SetString(kind);
        json.Field("seconds").SetFloat(static_cast<double>(time) / kNanosecondsPerSecond);
        json.Field("text").SetString(text);
        json.Field("time").SetString(FormatVirtualTime(time));
        line = WriteJson(json);
    }
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    ++lines_;
    if (!quiet_) {
        std::fwrite(line.data(), 1, line.size(), out_);
    }
}

void Timeline::Write(std::string_view text, const BindingProperty& json) {
    std::string line = format_ == TimelineFormat::Text ? std::string(text) : WriteJson(json);
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), out_);
}

std::size_t Timeline::LineCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

}  // namespace Tavo::Host
