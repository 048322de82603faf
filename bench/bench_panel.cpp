// What one text line and one LED pause cost in the hardware library, with a device that
// accepts every request at once, so that only the library itself is measured.
//
// Text lines: the file path (FreeType reading the gzip font file and rendering every glyph
// afresh) next to the cached path (font inflated once, glyphs kept). The LED pause: the
// library's wait next to a plain usleep(50), each as a distribution over single pauses, with
// the CPU time each takes; and button LED commands per second, pause included, against the
// 20 000 per second that the pause allows.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <string>
#include <vector>

#include "fpga_device.h"
#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

namespace {

int accepting_open(const char*, int) {
    return 3;
}
int accepting_ioctl(int, unsigned long, fpga_request*) {
    return 0;
}
const fpga_device_ops accepting_device = {accepting_open, accepting_ioctl};

const std::string font_8x13 = std::string(PANEL_X11_FONT_DIR) + "/8x13.pcf.gz";

void open_panel(glyph_source source) {
    fpga_set_device_ops(&accepting_device);
    panel_close();
    panel_open();
    text_glyph_source_set(source);
    tft_load_font(font_8x13.c_str());
}

void text_line(benchmark::State& state, glyph_source source) {
    open_panel(source);
    const char* text = "Tesserax panel 1";  // 16 characters, the whole width in 8x13
    tft_text_line(0, 1, text, 0xFFFFFF, 0x000000);
    for (auto _ : state) {
        tft_text_line(0, 1, text, 0xFFFFFF, 0x000000);
    }
    state.SetItemsProcessed(state.iterations() * 16);
    panel_close();
}

void BM_TextLine_File(benchmark::State& state) {
    text_line(state, glyph_source::file);
}
void BM_TextLine_Cached(benchmark::State& state) {
    text_line(state, glyph_source::cached);
}

void font_load(benchmark::State& state, glyph_source source) {
    open_panel(source);
    for (auto _ : state) {
        tft_load_font(font_8x13.c_str());
    }
    panel_close();
}

void BM_FontLoad_File(benchmark::State& state) {
    font_load(state, glyph_source::file);
}
void BM_FontLoad_Cached(benchmark::State& state) {
    font_load(state, glyph_source::cached);
}

double thread_cpu_us() {
    timespec used;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) * 1e6 + static_cast<double>(used.tv_nsec) / 1e3;
}

// Times every single pause and reports the distribution in microseconds, and the CPU time
// of one pause; returns the time of all of them. The thread is set up as keylight's worker
// is: its timer slack at 1 ns.
template <typename Pause>
double pause_distribution(benchmark::State& state, Pause pause) {
    led_pause_thread_prepare();
    std::vector<double> samples;
    const double cpu_start = thread_cpu_us();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        pause();
        const auto end = std::chrono::steady_clock::now();
        const double us = std::chrono::duration<double, std::micro>(end - start).count();
        state.SetIterationTime(us / 1e6);
        samples.push_back(us);
    }
    const double count = static_cast<double>(samples.size());
    state.counters["cpu_us"] = (thread_cpu_us() - cpu_start) / count;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[std::min(samples.size() - 1,
                                static_cast<size_t>(q * static_cast<double>(samples.size())))];
    };
    state.counters["min_us"] = samples.front();
    state.counters["median_us"] = at(0.5);
    state.counters["p90_us"] = at(0.9);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = samples.back();
    return std::accumulate(samples.begin(), samples.end(), 0.0);
}

void BM_LedPause_Library(benchmark::State& state) {
    pause_distribution(state, led_command_pause);
}
void BM_LedPause_Usleep50(benchmark::State& state) {
    pause_distribution(state, [] { usleep(50); });
}
void BM_LedButtonState(benchmark::State& state) {
    open_panel(glyph_source::cached);
    int index = 0;
    const double busy_us = pause_distribution(state, [&] { led_button_state(index++ & 31, 1); });
    const double per_second = static_cast<double>(state.iterations()) * 1e6 / busy_us;
    state.counters["per_s"] = per_second;
    // Against the most LED commands a second that the pause allows: 1 s / 50 us.
    state.counters["of_limit_pct"] = per_second * LED_COMMAND_PAUSE_US / 1e4;
    panel_close();
}

}  // namespace

BENCHMARK(BM_TextLine_File)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextLine_Cached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FontLoad_File)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FontLoad_Cached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LedPause_Library)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LedPause_Usleep50)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LedButtonState)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
