#include "platform/features.h"

#include <stdexcept>

namespace tw {
namespace {

template <typename Map, typename Value> void addOnce(Map &map, const std::string &name, Value value, const char *what)
{
    if (!map.emplace(name, std::move(value)).second)
        throw std::logic_error(std::string(what) + " registered twice: " + name);
}

template <typename Map> std::vector<std::string> keys(const Map &map)
{
    std::vector<std::string> out;
    for (const auto &entry : map)
        out.push_back(entry.first);
    return out;
}

} // namespace

void FeatureTable::addAction(const std::string &name, Action run, Rows rows)
{
    addOnce(m_actions, name, std::move(run), "action");
    if (rows == Rows::AsShown) m_asShown.insert(name);
}

void FeatureTable::addPageFill(const std::string &path, PageHandler fill)
{
    m_fills.emplace_back(path, std::move(fill));
}

void FeatureTable::addPageWatcher(PageHandler watch)
{
    m_watchers.push_back(std::move(watch));
}

void FeatureTable::addNavigationWatcher(NavigationHandler watch)
{
    m_navigationWatchers.push_back(std::move(watch));
}

void FeatureTable::addNavigationCatcher(NavigationCatcher catcher)
{
    m_navigationCatchers.push_back(std::move(catcher));
}

void FeatureTable::addCommand(const std::string &objectName, Handler click)
{
    addOnce(m_commands, objectName, std::move(click), "command");
}

void FeatureTable::addTimer(const std::string &objectName, Handler tick)
{
    addOnce(m_timers, objectName, std::move(tick), "timer");
}

void FeatureTable::setRedraw(Handler redraw)
{
    if (m_redraw) throw std::logic_error("the redraw registered twice");
    m_redraw = std::move(redraw);
}

bool FeatureTable::runAction(const Params &params) const
{
    auto name = params.find("Action");
    if (name == params.end()) return false;
    auto action = m_actions.find(name->second);
    if (action == m_actions.end()) return false;
    action->second(params);
    return true;
}

bool FeatureTable::hasAction(std::string_view name) const
{
    return m_actions.find(name) != m_actions.end();
}

std::vector<std::string> FeatureTable::actionNames() const
{
    return keys(m_actions);
}

bool FeatureTable::click(std::string_view objectName)
{
    auto it = m_commands.find(objectName);
    if (it == m_commands.end() || m_busy.busy()) return false;
    Busy::Token hold = m_busy.hold();
    it->second();
    return true;
}

bool FeatureTable::tick(std::string_view objectName)
{
    auto it = m_timers.find(objectName);
    if (it == m_timers.end() || !m_busy.allowsTick(objectName)) return false;
    Busy::Token hold = m_busy.hold(Busy::Options::wait("", std::string(objectName)));
    it->second();
    return true;
}

std::vector<std::string> FeatureTable::commandNames() const
{
    return keys(m_commands);
}

std::vector<std::string> FeatureTable::timerNames() const
{
    return keys(m_timers);
}

void FeatureTable::RefreshGrid() const
{
    if (!m_redraw) return;
    Busy::Token hold = m_busy.hold();
    m_redraw();
}

} // namespace tw
