// Publishing running virtual modules where the port list finds them: a link per simulator in a
// per-user runtime folder, guarded by a lock its simulator holds while it runs.
#pragma once

#include <QList>
#include <QString>

namespace sim {

/// What the port list shows after the link path.
inline constexpr char kPortDescription[] = "Virtual laser module";

struct PublishedPort
{
    QString linkPath; ///< what the program opens, for example /run/user/1000/tovandrix/ttyVM0
    QString targetPath; ///< the pseudo-terminal behind it, for example /dev/pts/7
};

/**
 * @brief Folder of the links: $XDG_RUNTIME_DIR/tovandrix, or /tmp/tovandrix-<uid> when
 * XDG_RUNTIME_DIR is not set.
 */
QString publishFolder();

/**
 * @brief The links of simulators that are running now, in number order. Links left behind by a
 * simulator that died are removed on the way.
 */
QList<PublishedPort> publishedPorts();

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

    bool isPublished() const { return m_lockFd >= 0; }
    QString linkPath() const { return m_linkPath; }
    QString errorString() const { return m_error; }

private:
    int m_lockFd = -1;
    QString m_linkPath;
    QString m_error;
};

} // namespace sim
