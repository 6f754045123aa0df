// ulm-host convert: reads one document from standard input with the
// framework's readers and writes it to standard output as JSON.
//
//   ulm-host convert --from json|msgpack|yaml --to json [--indent TEXT]
//
// Exit 0 with the JSON and a newline on standard output; exit 1 with the
// reader's message on standard error; exit 2 for a wrong command line.

#include <CLI/CLI.hpp>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "HostCommand.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "formats/MessagePack.h"
#include "formats/Yaml.h"
#include "logging/Format.h"

namespace Tavo::Host {
namespace {

constexpr char kTrailingMessagePack[] =
    "Unexpected data after the MessagePack value at position %1.";

// Reads the escapes a command line carries literally in a line-break text:
// \n, \r, \t and \\. Returns false, leaving `out` unspecified, for a
// backslash followed by anything else or by nothing.
bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                return false;
        }
    }
    return true;
}

// All of standard input, byte for byte. False on a read error.
bool ReadAll(std::FILE* in, std::string& out) {
    char buffer[65536];
    for (;;) {
        const std::size_t count = std::fread(buffer, 1, sizeof buffer, in);
        out.append(buffer, count);
        if (count < sizeof buffer) {
            return std::ferror(in) == 0;
        }
    }
}

class ConvertCommand final : public HostCommand {
public:
    void AddTo(CLI::App& subcommand) override {
        subcommand.add_option("--from", from_, "Format of the document on standard input")
            ->required()
            ->check(CLI::IsMember({"json", "msgpack", "yaml"}));
        subcommand.add_option("--to", to_, "Format written to standard output")
            ->required()
            ->check(CLI::IsMember({"json"}));
        subcommand
            .add_option("--indent", lineBreak_,
                        "Write indented JSON with TEXT ending each line; escapes \\n, \\r, "
                        "\\t and \\\\ are read as such (e.g. --indent '\\r\\n'). "
                        "Compact JSON without it")
            ->type_name("TEXT")
            ->transform(CLI::Validator(
                [](std::string& text) {
                    std::string unescaped;
                    if (!Unescape(text, unescaped)) {
                        return std::string("unknown escape in '") + text +
                               "': use \\n, \\r, \\t or \\\\";
                    }
                    text = std::move(unescaped);
                    return std::string();
                },
                "", "escapes"));
    }

    int Run() override {
        std::string input;
        if (!ReadAll(stdin, input)) {
            std::fputs("ulm-host convert: cannot read standard input\n", stderr);
            return kExitFailure;
        }

        BindingResult result;
        if (from_ == "json") {
            result = ParseJson(input);
        } else if (from_ == "msgpack") {
            MessagePackReadResult read = ReadMessagePack(input.data(), input.size());
            result = std::move(read.result);
            // One document: bytes after the value would be silently dropped.
            if (result.IsOk() && read.bytesConsumed < input.size()) {
                result.Fail(Format(kTrailingMessagePack, read.bytesConsumed));
            }
        } else {
            result = ParseYaml(input);
        }
        if (!result.IsOk()) {
            const std::string_view message = result.ErrorMessage();
            std::fwrite(message.data(), 1, message.size(), stderr);
            std::fputc('\n', stderr);
            return kExitFailure;
        }

        std::string json =
            WriteJson(result.Value(), nullptr, lineBreak_.empty() ? nullptr : lineBreak_.c_str());
        json += '\n';
        if (std::fwrite(json.data(), 1, json.size(), stdout) != json.size() ||
            std::fflush(stdout) != 0) {
            std::fputs("ulm-host convert: cannot write standard output\n", stderr);
            return kExitFailure;
        }
        return kExitOk;
    }

private:
    std::string from_;
    std::string to_;
    std::string lineBreak_;
};

}  // namespace

RegisteredCommand AddConvertCommand(CLI::App& app) {
    return AddCommand(app, std::make_unique<ConvertCommand>(), "convert",
                      "Read one document from standard input and write it as JSON");
}

}  // namespace Tavo::Host
