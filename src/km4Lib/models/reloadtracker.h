#pragma once

#include <QList>
#include <QStringList>

#include <algorithm>

// Keeps a model's overlapping reloads and pushes in order, on the model's thread.
//
// A reload's SELECT runs on a pool thread and may miss a row pushed meanwhile: the push changes
// the model at once, but its write runs on another pool thread and may land after the SELECT.
// Every push is therefore remembered until no reload that could have missed it can still be
// applied, and is replayed onto the rows of such a reload in the same reset. A reload that
// started before the one applied last is never applied over it.
template <typename Entity> class ReloadTracker
{
public:
    // Opens a reload; the returned generation identifies it.
    quint64 start()
    {
        m_pending.append(++m_started);
        return m_started;
    }

    // Closes a reload. Returns true when its rows are to be applied: it succeeded and no reload
    // started after it has been applied. `missed` then holds the pushes to replay, oldest first.
    bool finish(quint64 generation, bool succeeded, QList<Entity> *missed)
    {
        m_pending.removeOne(generation);
        const bool apply = succeeded && generation > m_applied;
        if (apply) {
            m_applied = generation;
            missed->clear();
            for (const Push &push : std::as_const(m_pushes)) {
                if (!push.settled || (push.stored && push.settledAt >= generation))
                    missed->append(push.entity);
            }
        }
        prune();
        return apply;
    }

    // Remembers records just pushed; the returned id settles them once their write has ended.
    quint64 recordPush(const QList<Entity> &entities)
    {
        ++m_pushCount;
        for (const Entity &entity : entities)
            m_pushes.append({ m_pushCount, false, true, 0, entity });
        return m_pushCount;
    }

    // The write of a push has ended; reloads started from now on see what it stored. The records
    // it did not store (by uuid) are forgotten: no reload may show them.
    void settle(quint64 pushId, const QStringList &notStored = {})
    {
        // Pushes are remembered in the order of their ids: find them without walking the rest.
        auto push = std::lower_bound(m_pushes.begin(), m_pushes.end(), pushId,
            [](const Push &remembered, quint64 id) { return remembered.id < id; });
        for (; push != m_pushes.end() && push->id == pushId; ++push) {
            push->settled = true;
            push->settledAt = m_started;
            push->stored = !notStored.contains(push->entity.uuid);
        }
        prune();
    }

    qsizetype rememberedPushes() const { return m_pushes.size(); }

private:
    struct Push
    {
        quint64 id;
        bool settled;
        bool stored;
        // The newest reload generation when the write ended; later reloads include the row.
        quint64 settledAt;
        Entity entity;
    };

    // A settled push is needed only while a reload that started before its write ended can
    // still be applied.
    void prune()
    {
        // Without a reload in flight, no settled push is needed; writes end in the order they were
        // asked for, so the settled ones lead the list and a flood of pushes costs no rescans.
        if (m_pending.isEmpty()) {
            qsizetype settled = 0;
            while (settled < m_pushes.size() && m_pushes.at(settled).settled)
                ++settled;
            m_pushes.remove(0, settled);
            return;
        }
        m_pushes.removeIf([this](const Push &push) {
            if (!push.settled)
                return false;
            if (!push.stored)
                return true;
            for (quint64 generation : std::as_const(m_pending)) {
                if (generation <= push.settledAt && generation > m_applied)
                    return false;
            }
            return true;
        });
    }

    quint64 m_started = 0;
    quint64 m_applied = 0;
    quint64 m_pushCount = 0;
    QList<quint64> m_pending;
    QList<Push> m_pushes;
};
