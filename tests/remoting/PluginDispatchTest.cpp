// Loads the test plugin with dlopen, as a host does, and calls its exported
// functions through nothing but the boundary: the load record, the export
// block and the dispatch callback of its entries.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/remoting/RemotingTestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
// Why: this toolchain's leak checker crashes while walking the dynamic
// thread-local storage of a dlopen'ed library (the plugin's converters keep a
// thread_local depth counter) on this glibc. Not tracking it keeps the checker
// working; ASAN_OPTIONS from the environment still adds to this.
extern "C" const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
#endif

namespace Tavo::Testing {
namespace {

class LoadedPlugin : public ::testing::Test {
protected:
    // The library is opened once and never closed: the framework keeps a
    // process-wide table in the library's static storage, which unmapping
    // would turn into a leak. Each test loads and shuts down its own module.
    static void SetUpTestSuite() {
        library_ = dlopen(TAVO_REMOTING_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        if (library_ != nullptr) {
            load_ = reinterpret_cast<PluginLoadFn>(dlsym(library_, "load_remoting_test"));
        }
    }

    void SetUp() override {
        ASSERT_NE(library_, nullptr) << dlerror();
        ASSERT_NE(load_, nullptr);
        record_.apiMajor = kPluginApiVersion.major;
        module_ = load_(&record_);
        ASSERT_NE(module_, nullptr);
        ASSERT_NE(record_.apiExport, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) {
            record_.callbacks->Shutdown(module_);
        }
    }

    Reply Send(TestRequest request) const { return SendRequest(*record_.apiExport, request); }
    Reply Get(std::string target) const {
        TestRequest request;
        request.target = std::move(target);
        return Send(std::move(request));
    }

    static inline void* library_ = nullptr;
    static inline PluginLoadFn load_ = nullptr;
    PluginLoadRecord record_{};
    void* module_ = nullptr;
};

TEST_F(LoadedPlugin, ExportsItsFunctionsBesideItsTypes) {
    const PluginApiExport& block = *record_.apiExport;
    std::string names;
    for (const ApiExportFunctionRecord* record = &block.functions[0].function; record != nullptr;
         record = record->next) {
        names += std::string(record->name) + " ";
    }
    EXPECT_EQ(names, "GetBook FindBooks AddBook Sum WhoAmI ");
    bool bookFound = false;
    for (const ApiExportTypeEntry* type = block.types; type != nullptr; type = type->next) {
        bookFound = bookFound || std::strcmp(type->name, "Book") == 0;
    }
    EXPECT_TRUE(bookFound);
}

TEST_F(LoadedPlugin, AnswersThroughTheDispatchCallback) {
    struct Row {
        const char* target;
        std::int32_t status;
        const char* json;
        const char* error;
    };
    const Row rows[] = {
        {"/books/1", 200, R"({"id":1,"tags":["sf"],"title":"Dune"})", ""},
        {"/books/9", 404, "", "No book number 9."},
        {"/books?title=m&limit=1", 200, R"([{"id":2,"tags":[],"title":"Emma"}])", ""},
        {"/books?limit=x", 400, "", "Value x for 'limit' of type uint32 is in an incorrect format"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        const Reply reply = Get(row.target);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(reply.json, row.json);
        EXPECT_EQ(reply.error, row.error);
    }
}

TEST_F(LoadedPlugin, TakesBodiesHeadersAndHostArguments) {
    TestRequest add;
    add.method = HttpMethod::Post;
    add.target = "/books";
    add.contentType = "application/x-yaml";
    add.body = "title: Ulysses\ntags: [long]\n";
    add.headers = {{"user", "ann"}};
    EXPECT_EQ(Send(add).json, R"({"id":3,"tags":["long","by:ann"],"title":"Ulysses"})");
    EXPECT_EQ(Get("/books/3").status, 200);

    TestRequest sum;
    sum.method = HttpMethod::Post;
    sum.target = "/sum/100";
    BindingProperty twenty;
    twenty.SetSigned(std::int64_t{20});
    sum.arguments = {{std::nullopt, twenty}, {std::string("c"), twenty}};
    EXPECT_EQ(Send(sum).json, "140");

    TestRequest who;
    who.target = "/whoami";
    who.headers = {{"user", "bo"}};
    const Reply reply = Send(who);
    EXPECT_EQ(reply.json, R"("bo")");
    EXPECT_EQ(reply.headers,
              (std::vector<std::pair<std::string, std::string>>{{"x-method", "GET"}}));
}

}  // namespace
}  // namespace Tavo::Testing
