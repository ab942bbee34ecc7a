#include <OrnUtil/System.h>
#include <algorithm>

namespace OrnUtil {

std::map<std::thread::id, std::list<std::thread::id>> ThreadGroup::m_ThreadGroups;
std::mutex ThreadGroup::m_mutex;

namespace {

using Groups = std::map<std::thread::id, std::list<std::thread::id>>;

// Groups in ascending key order, members from the front: when a thread is in several groups, the
// one with the smallest key decides, for lookups and changes alike.
Groups::iterator FirstGroupHolding(Groups& groups, std::thread::id thread) {
    return std::find_if(groups.begin(), groups.end(), [thread](const Groups::value_type& group) {
        return std::find(group.second.begin(), group.second.end(), thread) != group.second.end();
    });
}

} // namespace

void ThreadGroup::CreateThreadGroup() {
    std::list<std::thread::id> founder{std::this_thread::get_id()};
    std::lock_guard<std::mutex> guard(m_mutex);
    m_ThreadGroups.emplace(founder.front(), std::move(founder));
}

void ThreadGroup::AddThreadToGroup(std::thread::id thread) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto group = FirstGroupHolding(m_ThreadGroups, thread);
    if (group != m_ThreadGroups.end())
        group->second.push_back(std::this_thread::get_id());
}

void ThreadGroup::RemoveThreadFromGroup() {
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto group = FirstGroupHolding(m_ThreadGroups, self);
    if (group != m_ThreadGroups.end())
        group->second.erase(std::find(group->second.begin(), group->second.end(), self));
}

void ThreadGroup::DeleteThreadGroup(std::thread::id group) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_ThreadGroups.erase(group);
}

std::thread::id ThreadGroup::GetThreadGroupId(std::thread::id thread) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto group = FirstGroupHolding(m_ThreadGroups, thread);
    return group != m_ThreadGroups.end() ? group->first : std::thread::id();
}

std::list<std::thread::id> ThreadGroup::GetThreadGroupIds() {
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto group = FirstGroupHolding(m_ThreadGroups, self);
    return group != m_ThreadGroups.end() ? group->second : std::list<std::thread::id>();
}

} // namespace OrnUtil
