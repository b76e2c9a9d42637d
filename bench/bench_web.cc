// The document rewrite every video creative goes through before it loads: a 200 KB creative
// holding a video and an external player element, and a 60 KB player script inlined into it.
#include <benchmark/benchmark.h>

#include <string>

#include "orvex/web/ad_player_script_manager.h"
#include "orvex/web/html_content.h"

namespace {

std::string creative(std::size_t bytes) {
  std::string html =
      "<!DOCTYPE html><html><head><meta charset='utf-8'>"
      "<script src=\"https://cdn.example/player@v1/ad-player.bundled.min.js\"></script>\n\n"
      "</head><body><video src='https://cdn.example/v.mp4' autoplay muted></video>";
  while (html.size() < bytes)
    html += "<div class='row'><p>Some creative copy &amp; markup</p></div>";
  return html + "</body></html>";
}

void BM_PlayerScriptProcess200KB(benchmark::State& state) {
  const std::string html = creative(200 * 1024);
  const std::string script(60 * 1024, 'x');
  for (auto _ : state) {
    benchmark::DoNotOptimize(orvex::AdPlayerScriptManager::inlineScript(html, script));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(html.size()));
}
BENCHMARK(BM_PlayerScriptProcess200KB)->Unit(benchmark::kMicrosecond);

void BM_ComposeAndContentTests200KB(benchmark::State& state) {
  const std::string fragment = creative(200 * 1024);
  const std::string tag = "<html><body><%= data.markup %></body></html>";
  for (auto _ : state) {
    auto doc = orvex::composeDocument(tag, "<%= data.markup %>", fragment);
    benchmark::DoNotOptimize(orvex::HTMLContentHelper::containsEmblaCarousel(doc));
  }
}
BENCHMARK(BM_ComposeAndContentTests200KB)->Unit(benchmark::kMicrosecond);

}  // namespace
