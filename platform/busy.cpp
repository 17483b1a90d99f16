#include "platform/busy.h"

#include <algorithm>

namespace tw {

Busy::Hold::~Hold()
{
    m_busy.release(this);
}

Busy::Token Busy::hold(Options options)
{
    // A Hold cannot be made by make_shared: its constructor is private.
    Token token(new Hold(*this, std::move(options)));
    m_holds.push_back(token.get());
    if (m_holds.size() == 1 && onChange) onChange(true);
    return token;
}

void Busy::release(Hold *hold)
{
    m_holds.erase(std::remove(m_holds.begin(), m_holds.end(), hold), m_holds.end());
    if (!m_holds.empty()) return;
    if (onChange) onChange(false);
    if (m_idleTasks.empty()) return;
    if (m_post)
        m_post([this] { runIdleTasks(); });
    else
        runIdleTasks();
}

bool Busy::allowsAction(std::string_view action) const
{
    if (m_holds.empty()) return true;
    const std::string &cancel = m_holds.back()->m_options.cancelAction;
    return !cancel.empty() && cancel == action;
}

bool Busy::allowsTick(std::string_view timer) const
{
    return m_holds.empty() || m_holds.back()->m_options.timer == timer;
}

void Busy::whenIdle(std::function<void()> task, bool holding)
{
    if (busy()) {
        m_idleTasks.push_back({std::move(task), holding});
        return;
    }
    Token token = holding ? hold() : Token();
    task();
}

void Busy::runIdleTasks()
{
    // One at a time: a task may start something that keeps the window busy,
    // and the rest then wait for that to end.
    while (!m_idleTasks.empty() && !busy()) {
        IdleTask task = std::move(m_idleTasks.front());
        m_idleTasks.erase(m_idleTasks.begin());
        Token token = task.hold ? hold() : Token();
        task.run();
    }
}

bool Busy::mayClose(const std::function<bool(const std::string &question)> &ask)
{
    // Copies: a question's box lets events run, and a hold may end meanwhile.
    std::vector<Options> asking;
    for (auto it = m_holds.rbegin(); it != m_holds.rend(); ++it)
        if (!(*it)->m_options.closeQuestion.empty()) asking.push_back((*it)->m_options);
    for (const Options &o : asking)
        if (!ask(o.closeQuestion)) return false;
    for (const Options &o : asking)
        if (o.closingAnyway) o.closingAnyway();
    return true;
}

} // namespace tw
