// The table dump of HTML on tables nested deep inside each other, at two
// depths. The ratio of the deep run to the shallow one shows how the time
// grows with the page: 16 when it grows in proportion (16 times the tables),
// 256 if it grew with the square.
#include "velmot/core/html.h"

#include "bench/support/ratio.h"

#include <string>

namespace {

STRING NestedTables(int depth)
{
    std::string page;
    for (int i = 0; i < depth; ++i)
        page += "<table><tr><td>cell ";
    for (int i = 0; i < depth; ++i)
        page += "</td></tr></table>";
    STRING s;
    s.Make(static_cast<int32_t>(page.size()), page.data());
    return s;
}

void BM_PureTablesNested(benchmark::State& state)
{
    STRING const page = NestedTables(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        STRING dump = HTML::PureTables(page);
        benchmark::DoNotOptimize(dump.Buffer);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PureTablesNested)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_PureTablesNested/16000", "BM_PureTablesNested/1000");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
