#include "worker/RepairFileHealth.h"

bool RepairFileHealth::IsNews(RepairFileEvent event, std::wstring_view path, std::uint32_t error)
{
    switch (event) {
    case RepairFileEvent::Opened:
        if (!troubled_ || trouble_ == RepairFileEvent::AppendFailed) {
            return false;
        }
        troubled_ = false;
        return true;
    case RepairFileEvent::Appended: {
        const bool ended = troubled_;
        troubled_ = false;
        return ended;
    }
    case RepairFileEvent::AppendFailed:
        if (troubled_ && trouble_ == event) {
            return false;
        }
        break;
    case RepairFileEvent::NotConfigured:
    case RepairFileEvent::NotOpened:
        if (troubled_ && trouble_ == event && path_ == path && error_ == error) {
            return false;
        }
        break;
    }
    troubled_ = true;
    trouble_ = event;
    path_ = path;
    error_ = error;
    return true;
}
