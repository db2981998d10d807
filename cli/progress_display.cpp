#include "cli/progress_display.h"

#include <algorithm>
#include <cstdio>

#include "words/toolkit_words.h"

namespace zelkor::cli {

std::string FormatDuration(std::chrono::seconds duration, Language language) {
    const long total = std::max<long>(0, static_cast<long>(duration.count()));
    const bool chinese = language == Language::Chinese;
    char text[48];
    if (total < 60) {
        std::snprintf(text, sizeof text, chinese ? "%ld 秒" : "%ld s", total);
    } else if (total < 3600) {
        std::snprintf(text, sizeof text, chinese ? "%ld 分 %02ld 秒" : "%ld min %02ld s", total / 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, chinese ? "%ld 小时 %02ld 分" : "%ld h %02ld min", total / 3600,
                      total % 3600 / 60);
    }
    return text;
}

std::string FormatProgress(card::Stage stage, int done, int total, std::chrono::milliseconds elapsed,
                           Language language) {
    std::string line = words::Text(stage, language);
    line += Say(language, ": ", "：") + std::to_string(done) + "/" + std::to_string(total);
    if (total <= 0) return line;
    const int shown_done = std::clamp(done, 0, total);
    line += Say(language, ", ", "，") + std::to_string(shown_done * 100 / total) + " %";
    if (shown_done > 0 && shown_done < total) {
        const auto left_ms = elapsed.count() * (total - shown_done) / shown_done;
        const std::string left = FormatDuration(std::chrono::seconds((left_ms + 999) / 1000), language);
        line += Say(language, ", about " + left + " left", "，大约还需 " + left);
    }
    return line;
}

void ProgressDisplay::Show(const card::Progress &progress, std::string_view detail) {
    if (!console_.interactive()) return;
    const auto now = Clock::now();
    if (progress.stage != stage_) {
        stage_ = progress.stage;
        stage_start_ = now;
        last_draw_ = {};
    }
    const bool last = progress.done >= progress.total;
    if (!last && now - last_draw_ < std::chrono::milliseconds(100)) return;
    last_draw_ = now;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - stage_start_);
    std::string line = FormatProgress(progress.stage, progress.done, progress.total, elapsed, language_);
    if (progress.sector >= 0) {
        const std::string sector = std::to_string(progress.sector);
        line += Say(language_, ", sector " + sector, "，扇区 " + sector);
    }
    if (!detail.empty()) {
        line += "  ";
        line += detail;
    }
    console_.Status(line);
}

card::ProgressFn ProgressDisplay::Callback() {
    return [this](const card::Progress &progress) { Show(progress); };
}

}  // namespace zelkor::cli
