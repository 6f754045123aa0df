// A plugin for the tests of exported functions: a small shelf of books whose
// functions take arguments from every place a request can carry them (path,
// query, header, host argument, body) and answer with a struct, a list, a
// number, a text or an error.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "framework/PluginEntry.h"
#include "logging/Format.h"
#include "remoting/RemotingApi.h"

namespace Tavo::Testing::RemotingPlugin {

namespace {

using Location = BindingArgumentLocation;

struct Book {
    std::uint32_t id = 0;
    std::string title;
    std::vector<std::string> tags;
};

// Host thread only, like every module table.
class ShelfModule final : public Client::AppModule {
public:
    void RegisterApiTypes() override;

private:
    std::vector<Book> books_{{1, "Dune", {"sf"}}, {2, "Emma", {}}};
    std::uint32_t nextId_ = 3;
};

void ShelfModule::RegisterApiTypes() {
    DeclareStruct<Book>("Book")
        .SetDescription("A book on the shelf.")
        .AddField("id", &Book::id)
        .AddField("title", &Book::title)
        .AddField("tags", &Book::tags);
    BindingRegistry& api = Registry();

    api.DeclareFunction("GetBook",
                        [this](std::uint32_t id) -> Maybe<Book> {
                            for (const Book& book : books_) {
                                if (book.id == id) {
                                    return book;
                                }
                            }
                            return Failure(404, Format("No book number %1.", id));
                        })
        .Route(HttpMethod::Get, "/books/{id}")
        .Argument("id", Location::Path, "Book number")
        .SetDescription("Reads one book.");

    api.DeclareFunction("FindBooks",
                        [this](const std::string& title, std::uint32_t limit) {
                            std::vector<Book> found;
                            for (const Book& book : books_) {
                                if (limit != 0 && found.size() == limit) {
                                    break;
                                }
                                if (book.title.find(title) != std::string::npos) {
                                    found.push_back(book);
                                }
                            }
                            return found;
                        })
        .Route(HttpMethod::Get, "/books")
        .RestrictToGetAndHead()
        .OptionalArgument("title", Location::Query, "Part of the title")
        .OptionalArgument("limit", Location::Query, "At most this many books")
        .SetDescription("Lists the books whose title contains a text.");

    api.DeclareFunction("AddBook",
                        [this](Book book, const std::string& user) {
                            book.id = nextId_++;
                            if (!user.empty()) {
                                book.tags.push_back("by:" + user);
                            }
                            books_.push_back(book);
                            return book;
                        })
        .Route(HttpMethod::Post, "/books")
        .Argument("book", Location::Body, "The new book")
        .OptionalArgument("user", Location::Header, "Who adds it")
        .SetDescription("Adds a book and returns it with its number.");

    api.DeclareFunction("Sum",
                        [](std::int64_t a, std::int64_t b, std::int64_t c) { return a + b + c; })
        .Route(HttpMethod::Post, "/sum/{a}")
        .Argument("a", Location::Path)
        .Argument("b")
        .OptionalArgument("c")
        .SetThreadSafe();

    api.DeclareFunction("WhoAmI",
                        [](const RemotingRequest& request, RemotingResponse& response) {
                            response.headers.emplace_back("x-method", MethodName(request.method));
                            const auto user = request.headers.find("user");
                            return user == request.headers.end() ? std::string("anonymous")
                                                                 : user->second;
                        })
        .Route(HttpMethod::Get, "/whoami")
        .SetDescription("Names the caller from its user header.");
}

}  // namespace

}  // namespace Tavo::Testing::RemotingPlugin

extern "C" __attribute__((visibility("default"))) void* load_remoting_test(
    Tavo::PluginLoadRecord* record) {
    return Tavo::Client::LoadPlugin<Tavo::Testing::RemotingPlugin::ShelfModule>(record,
                                                                                "remoting-test");
}
