// The panel state file: SavePanelState and RecallPanelState, and its format of "[index]"
// headers followed by CONSTANT=value lines.
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "panel_model.h"
#include "panel_values.h"

namespace vek::ui {

namespace {

std::string escape(const std::string& s)
{
    std::string out;
    for (char ch : s) {
        if (ch == '\\')
            out += "\\\\";
        else if (ch == '\n')
            out += "\\n";
        else if (ch == '\r')
            out += "\\r";
        else
            out += ch;
    }
    return out;
}

std::string unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string formatValue(const Value& v)
{
    if (std::holds_alternative<long long>(v))
        return std::to_string(std::get<long long>(v));
    if (std::holds_alternative<double>(v)) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(v));
        return buf;
    }
    return escape(std::get<std::string>(v));
}

// Splits a state file into its states: index -> lines in order. Lines before any
// "[N]" header belong to state 0.
std::map<int, std::vector<std::string>> readStates(std::istream& in)
{
    std::map<int, std::vector<std::string>> states;
    int current = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 3 && line.front() == '[' && line.back() == ']') {
            try {
                std::size_t used = 0;
                const std::string inner = line.substr(1, line.size() - 2);
                const int idx = std::stoi(inner, &used);
                if (used == inner.size() && idx >= 0) {
                    current = idx;
                    states[current];
                    continue;
                }
            } catch (...) {
            }
        }
        states[current].push_back(line);
    }
    return states;
}

}  // namespace

int PanelModel::SavePanelState(int handle, const std::string& file, int index)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    if (index < 0)
        return UIE_NO_SUCH_STATE;
    std::map<int, std::vector<std::string>> states;
    {
        std::ifstream in(file);
        if (in)
            states = readStates(in);
    }
    std::vector<std::string>& lines = states[index];
    lines.clear();
    for (const auto& c : p->controls)
        if (c.carriesValue())
            lines.push_back(c.constant + "=" + formatValue(c.value));
    std::ostringstream out;
    for (const auto& [idx, ls] : states) {
        out << '[' << idx << "]\n";
        for (const auto& l : ls)
            if (!l.empty())
                out << l << '\n';
    }
    // Written to a temporary file and renamed, so a crash never leaves half a settings file.
    QSaveFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::WriteOnly))
        return UIE_STATE_FILE;
    const std::string text = out.str();
    if (f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
        return UIE_STATE_FILE;
    return f.commit() ? 0 : UIE_STATE_FILE;
}

int PanelModel::RecallPanelState(int handle, const std::string& file, int index)
{
    Panel* p = find(handle);
    if (!p)
        return UIE_NO_SUCH_PANEL;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return UIE_STATE_FILE;
    std::ifstream in(file);
    if (!in)
        return UIE_STATE_FILE;
    const auto states = readStates(in);
    auto it = states.find(index);
    if (it == states.end())
        return UIE_NO_SUCH_STATE;
    for (const std::string& line : it->second) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string text = line.substr(eq + 1);
        Control* c = nullptr;
        for (auto& cc : p->controls)
            if (cc.constant == key && cc.carriesValue())
                c = &cc;
        if (!c)
            continue;
        Value v;
        if (c->type == DataType::String) {
            v = unescape(text);
        } else {
            // Whole numbers for whole-number controls; anything unparsable is skipped.
            char* end = nullptr;
            errno = 0;
            if (c->type == DataType::Float || c->type == DataType::Double) {
                const double d = std::strtod(text.c_str(), &end);
                if (text.empty() || *end != '\0' || errno != 0)
                    continue;
                v = d;
            } else {
                const long long n = std::strtoll(text.c_str(), &end, 10);
                if (text.empty() || *end != '\0' || errno != 0)
                    continue;
                // A number the control's type cannot hold is a broken file, not a value to wrap.
                Value fitted;
                if (detail::coerce(c->type, Value(n), fitted) < 0 || std::get<long long>(fitted) != n)
                    continue;
                v = n;
            }
        }
        SetCtrlVal(handle, c->id, v);
    }
    return 0;
}

}  // namespace vek::ui
