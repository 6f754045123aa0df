// Registry-driven conversion of native records. Input: generated, a catalog
// of 10,000 records of 6 fields (an unsigned id, a signed quantity, a double
// price, a name text, an enum state and a vector of 2 tag texts).
// Measures, per record: the reflective conversions through the registry --
// native to dynamic (ToProperty), dynamic to native (FromProperty) and dynamic
// to host value and back (HostValueFromProperty + PropertyFromHostValue) --
// against the same records written field by field into a RapidJSON Document
// by hand (the reference for building a tree) and read back from it by hand.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/Converters.h"
#include "binding/HostValueConvert.h"

namespace {

enum class Stock : std::int32_t { Out = 0, Low = 1, Plenty = 2 };

struct Record {
    std::uint64_t id = 0;
    std::int32_t quantity = 0;
    double price = 0.0;
    std::string name;
    Stock stock = Stock::Out;
    std::vector<std::string> tags;
};

struct Catalog {
    std::vector<Record> records;
};

constexpr std::int64_t kRecords = 10000;

const Tavo::BindingRegistry& Registry() {
    static Tavo::BindingRegistry* registry = [] {
        auto* r = new Tavo::BindingRegistry;
        r->DeclareEnum<Stock>("Stock")
            .AddValue("Out", Stock::Out)
            .AddValue("Low", Stock::Low)
            .AddValue("Plenty", Stock::Plenty);
        r->DeclareStruct<Record>("Record")
            .AddField("id", &Record::id)
            .AddField("quantity", &Record::quantity)
            .AddField("price", &Record::price)
            .AddField("name", &Record::name)
            .AddField("stock", &Record::stock)
            .AddField("tags", &Record::tags);
        r->DeclareStruct<Catalog>("Catalog").AddField("records", &Catalog::records);
        return r;
    }();
    return *registry;
}

const Catalog& Input() {
    static const Catalog catalog = [] {
        Catalog c;
        for (std::int64_t i = 0; i < kRecords; ++i) {
            Record r;
            r.id = 1000000 + static_cast<std::uint64_t>(i);
            r.quantity = static_cast<std::int32_t>(i % 97) - 10;
            r.price = 0.25 * static_cast<double>(i % 1000);
            r.name = "item-" + std::to_string(i);
            r.stock = static_cast<Stock>(i % 3);
            r.tags = {"tag" + std::to_string(i % 7), "shelf" + std::to_string(i % 50)};
            c.records.push_back(std::move(r));
        }
        return c;
    }();
    return catalog;
}

const char* StockName(Stock stock) {
    switch (stock) {
        case Stock::Out:
            return "Out";
        case Stock::Low:
            return "Low";
        case Stock::Plenty:
            return "Plenty";
    }
    return "";
}

void BM_RegistryToProperty(benchmark::State& state) {
    const Catalog& catalog = Input();
    for (auto _ : state) {
        Tavo::BindingResult result = Tavo::ToProperty(catalog, Registry());
        benchmark::DoNotOptimize(result.Value().Size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_RapidJsonBuildByHand(benchmark::State& state) {
    const Catalog& catalog = Input();
    for (auto _ : state) {
        rapidjson::Document document(rapidjson::kObjectType);
        auto& allocator = document.GetAllocator();
        rapidjson::Value records(rapidjson::kArrayType);
        for (const Record& r : catalog.records) {
            rapidjson::Value item(rapidjson::kObjectType);
            item.AddMember("id", r.id, allocator);
            item.AddMember("quantity", r.quantity, allocator);
            item.AddMember("price", r.price, allocator);
            item.AddMember("name", rapidjson::Value(r.name.c_str(), allocator), allocator);
            item.AddMember("stock", rapidjson::StringRef(StockName(r.stock)), allocator);
            rapidjson::Value tags(rapidjson::kArrayType);
            for (const std::string& tag : r.tags) {
                tags.PushBack(rapidjson::Value(tag.c_str(), allocator), allocator);
            }
            item.AddMember("tags", tags, allocator);
            records.PushBack(item, allocator);
        }
        document.AddMember("records", records, allocator);
        benchmark::DoNotOptimize(document.MemberCount());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_RegistryFromProperty(benchmark::State& state) {
    const Tavo::BindingResult tree = Tavo::ToProperty(Input(), Registry());
    for (auto _ : state) {
        Tavo::BindingResult context;
        Catalog out;
        Tavo::FromProperty(context, out, tree.Value(), "<value>", Registry());
        benchmark::DoNotOptimize(out.records.data());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

Stock StockFromName(const char* name) {
    const std::string_view text(name);
    return text == "Plenty" ? Stock::Plenty : text == "Low" ? Stock::Low : Stock::Out;
}

void BM_RapidJsonReadByHand(benchmark::State& state) {
    rapidjson::Document document(rapidjson::kObjectType);
    {
        auto& allocator = document.GetAllocator();
        rapidjson::Value records(rapidjson::kArrayType);
        for (const Record& r : Input().records) {
            rapidjson::Value item(rapidjson::kObjectType);
            item.AddMember("id", r.id, allocator);
            item.AddMember("quantity", r.quantity, allocator);
            item.AddMember("price", r.price, allocator);
            item.AddMember("name", rapidjson::Value(r.name.c_str(), allocator), allocator);
            item.AddMember("stock", rapidjson::StringRef(StockName(r.stock)), allocator);
            rapidjson::Value tags(rapidjson::kArrayType);
            for (const std::string& tag : r.tags) {
                tags.PushBack(rapidjson::Value(tag.c_str(), allocator), allocator);
            }
            item.AddMember("tags", tags, allocator);
            records.PushBack(item, allocator);
        }
        document.AddMember("records", records, allocator);
    }
    for (auto _ : state) {
        Catalog out;
        const rapidjson::Value& records = document["records"];
        out.records.resize(records.Size());
        for (rapidjson::SizeType i = 0; i < records.Size(); ++i) {
            const rapidjson::Value& item = records[i];
            Record& r = out.records[i];
            r.id = item["id"].GetUint64();
            r.quantity = item["quantity"].GetInt();
            r.price = item["price"].GetDouble();
            r.name = item["name"].GetString();
            r.stock = StockFromName(item["stock"].GetString());
            const rapidjson::Value& tags = item["tags"];
            r.tags.resize(tags.Size());
            for (rapidjson::SizeType t = 0; t < tags.Size(); ++t) {
                r.tags[t] = tags[t].GetString();
            }
        }
        benchmark::DoNotOptimize(out.records.data());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_HostValueRoundTrip(benchmark::State& state) {
    const Tavo::BindingResult tree = Tavo::ToProperty(Input(), Registry());
    for (auto _ : state) {
        Tavo::HostValue host{};
        const bool built = Tavo::HostValueFromProperty(host, tree.Value(), &Registry());
        Tavo::BindingResult back = Tavo::PropertyFromHostValue(host, "<value>");
        Tavo::ResetHostValue(host);
        benchmark::DoNotOptimize(built);
        benchmark::DoNotOptimize(back.Value().Size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

}  // namespace

BENCHMARK(BM_RegistryToProperty)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonBuildByHand)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegistryFromProperty)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonReadByHand)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostValueRoundTrip)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
