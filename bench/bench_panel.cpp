// What one text line and the LED gap cost in the hardware library, with a device that
// accepts every request at once, so that only the library itself is measured.
//
// Text lines: the file path (FreeType reading the gzip font file and rendering every glyph
// afresh) next to the cached path (font inflated once, glyphs kept). The LED gap: the
// library's wait for a whole gap next to a plain usleep(50), each as a distribution over
// single waits, with the CPU time each takes; button LED commands per second in a flood
// against the 20 000 per second that the gap allows; a lone command's cost; and, as the
// device sees it, the shortest time between a button LED command and the next access.
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
int64_t monotonic_ns() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool is_button_led_command(unsigned long request, const fpga_request* record) {
    return request == FPGA_REQ_SHORT && record->count == 1 &&
           record->address.short_word == (REG_LED_COMMAND | FPGA_SHORT_MARK) &&
           ((record->data.value >> 8) & 0xC0) == LED_KIND_BUTTON;
}

// The device's side of the gap: from the end of a button LED command to the start of the
// next access, the shortest since the last reset.
int64_t led_command_end_ns = 0;
int64_t shortest_gap_ns = INT64_MAX;

void reset_shortest_gap() {
    led_command_end_ns = 0;
    shortest_gap_ns = INT64_MAX;
}

int accepting_ioctl(int, unsigned long request, fpga_request* record) {
    if (led_command_end_ns != 0) {
        shortest_gap_ns = std::min(shortest_gap_ns, monotonic_ns() - led_command_end_ns);
        led_command_end_ns = 0;
    }
    if (is_button_led_command(request, record)) {
        led_command_end_ns = monotonic_ns();
    }
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

// Times every single wait and reports the distribution in microseconds, and the CPU time
// of one wait; returns the time of all of them. The thread is set up as keylight's worker
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

// The shortest gap the device saw, in microseconds.
void report_shortest_gap(benchmark::State& state) {
    state.counters["min_gap_us"] = static_cast<double>(shortest_gap_ns) / 1e3;
}

// A whole gap, as a button LED command followed at once by another access waits it.
void BM_LedPause_Library(benchmark::State& state) {
    pause_distribution(state, [] {
        led_gap_begin();
        led_gap_wait();
    });
}
void BM_LedPause_Usleep50(benchmark::State& state) {
    pause_distribution(state, [] { usleep(50); });
}
// A flood: every command waits for the gap of the one before.
void BM_LedButtonState(benchmark::State& state) {
    open_panel(glyph_source::cached);
    reset_shortest_gap();
    int index = 0;
    const double busy_us = pause_distribution(state, [&] { led_button_state(index++ & 31, 1); });
    const double per_second = static_cast<double>(state.iterations()) * 1e6 / busy_us;
    state.counters["per_s"] = per_second;
    // Against the most LED commands a second that the gap allows: 1 s / 50 us.
    state.counters["of_limit_pct"] = per_second * LED_COMMAND_GAP_US / 1e4;
    report_shortest_gap(state);
    led_gap_wait();
    panel_close();
}

// One command a millisecond, as a client sets an LED when a button is pressed: the gap is over
// before the next command, so a command costs its access alone. Only the calls are timed.
void BM_LedButtonState_Lone(benchmark::State& state) {
    open_panel(glyph_source::cached);
    reset_shortest_gap();
    int index = 0;
    double cpu_us = 0;
    double max_us = 0;
    for (auto _ : state) {
        usleep(1000);
        const double cpu_start = thread_cpu_us();
        const auto start = std::chrono::steady_clock::now();
        led_button_state(index++ & 31, 1);
        const auto end = std::chrono::steady_clock::now();
        cpu_us += thread_cpu_us() - cpu_start;
        const double us = std::chrono::duration<double, std::micro>(end - start).count();
        max_us = std::max(max_us, us);
        state.SetIterationTime(us / 1e6);
    }
    state.counters["cpu_us"] = cpu_us / static_cast<double>(state.iterations());
    state.counters["max_us"] = max_us;
    report_shortest_gap(state);
    led_gap_wait();
    panel_close();
}

// A long run of button LED commands each followed at once by another kind of access: a
// status read, a status indicator, a burst of pixels, a toggle indicator. min_gap_us is the
// shortest time the device saw between a command and the access after it.
void BM_LedGap_Mixed(benchmark::State& state) {
    open_panel(glyph_source::cached);
    reset_shortest_gap();
    uint16_t pixels[16] = {};
    int index = 0;
    for (auto _ : state) {
        led_button_state(index & 31, 1);
        switch (index++ % 4) {
        case 0:
            benchmark::DoNotOptimize(status_bits_get());
            break;
        case 1:
            led_status_indicator(index & 31, 1);
            break;
        case 2:
            tft_pixels(1, pixels, 16);
            break;
        default:
            led_toggle_indicator(1, index & 1);
            break;
        }
    }
    report_shortest_gap(state);
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
BENCHMARK(BM_LedButtonState_Lone)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMicrosecond);
// 20 000 command and access pairs: a second at the most the gap allows.
BENCHMARK(BM_LedGap_Mixed)->Iterations(20000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
