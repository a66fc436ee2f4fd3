#include "core/errors.h"

#include <cstdio>

std::string FormatArg::asText() const {
    switch (kind_) {
    case Int: return std::to_string(i_);
    case Float: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", d_);
        return buf;
    }
    case Text: return s_;
    }
    return {};
}

std::string FormatText(std::string_view fmt, std::initializer_list<FormatArg> args) {
    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%') {
            out += fmt[i];
            continue;
        }
        // Collect one conversion: flags, width, precision, length, type.
        size_t j = i + 1;
        if (j < fmt.size() && fmt[j] == '%') {
            out += '%';
            i = j;
            continue;
        }
        std::string fmtSpec = "%";
        while (j < fmt.size() && std::string_view("-+ #0").find(fmt[j]) != std::string_view::npos)
            fmtSpec += fmt[j++];
        while (j < fmt.size() && ((fmt[j] >= '0' && fmt[j] <= '9') || fmt[j] == '.'))
            fmtSpec += fmt[j++];
        while (j < fmt.size() && std::string_view("hlLqjzt").find(fmt[j]) != std::string_view::npos)
            ++j;  // the argument's own type decides the width
        if (j >= fmt.size()) {
            out.append(fmt.substr(i));
            break;
        }
        const char type = fmt[j];
        i = j;
        if (next == args.end()) continue;
        const FormatArg& a = *next++;
        char buf[512];
        switch (type) {
        case 'd': case 'i':
            std::snprintf(buf, sizeof buf, (fmtSpec + "lld").c_str(), a.asInt());
            out += buf;
            break;
        case 'u': case 'x': case 'X': case 'o':
            std::snprintf(buf, sizeof buf, (fmtSpec + "ll" + type).c_str(),
                          static_cast<unsigned long long>(a.asInt()));
            out += buf;
            break;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G':
            std::snprintf(buf, sizeof buf, (fmtSpec + type).c_str(), a.asFloat());
            out += buf;
            break;
        case 'c':
            out += static_cast<char>(a.asInt());
            break;
        case 's':
        default:
            if (fmtSpec.size() > 1) {
                std::snprintf(buf, sizeof buf, (fmtSpec + "s").c_str(), a.asText().c_str());
                out += buf;
            } else {
                out += a.asText();
            }
            break;
        }
    }
    return out;
}

std::string ErrorCodeToText(KervErrorCode code, bool) {
    if (code == 0) return {};
    if (code < 0) {
        const char* s = GetString(-code);
        return s ? std::string(s) : FormatString(IDS_UNKNOWN_ERROR, -static_cast<long long>(code));
    }
    if (code == KERV_INVALID_PARAM) return LoadString(-KERR_INVALID_PARAMETER);
    std::string text = LibErrorText(code);
    if (text.empty()) text = FormatString(IDS_UNKNOWN_ERROR, code);
    return text;
}

int ProgressPercent(const StatusControlBlock& s) {
    if (s.total == 0) return 0;
    const int64_t current = s.current, total = s.total;
    if (s.passCount != 0) {
        const int64_t p = s.passCount;
        return static_cast<int>(current * (100 / p) / total + int64_t{s.pass} * 100 / p);
    }
    return static_cast<int>(current * 100 / total);
}

ProgressReporter::ProgressReporter(StatusControlBlock* s) : s_(s && s->progress ? s : nullptr) {
    if (!s_) return;
    s_->current = 0;
    s_->total = 100;
    s_->progress(s_);
}

void ProgressReporter::begin(int32_t units) {
    if (s_) s_->total = units;
}

bool ProgressReporter::step(int32_t i) {
    if (!s_) return false;
    s_->current = i;
    return s_->progress(s_) != 0;
}

void ProgressReporter::end() {
    if (!s_) return;
    s_->current = s_->total;
    s_->progress(s_);
}
