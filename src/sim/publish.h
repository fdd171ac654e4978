// Publishing running virtual modules where the port list finds them: a link per simulator in a
// per-user runtime folder, guarded by a lock its simulator holds while it runs.
#pragma once

#include <QString>

namespace sim {

/** Owns one published link (ttyVM<n>, the lowest free n) and removes it when destroyed. */
class PortPublisher
{
public:
    PortPublisher() = default;
    ~PortPublisher();
    PortPublisher(const PortPublisher &) = delete;
    PortPublisher &operator=(const PortPublisher &) = delete;

    /** @brief Links the next free name to @p target; false (and errorString()) on failure. */
    bool publish(const QString &target);
    void unpublish();

    QString linkPath() const { return m_linkPath; }
    QString errorString() const { return m_error; }

private:
    int m_lockFd = -1;
    QString m_linkPath;
    QString m_error;
};

} // namespace sim
