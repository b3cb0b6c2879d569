#pragma once

#include <QString>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Redirects the process's standard output into a temporary file until take() is called, so a
// test can read what the program echoed.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file.open();
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { take(); }

    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Restores standard output and returns everything written to it since construction.
    QString take()
    {
        if (m_saved >= 0) {
            std::fflush(stdout);
            ::dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
            m_saved = -1;
            m_file.seek(0);
            m_text = QString::fromUtf8(m_file.readAll());
        }
        return m_text;
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QString m_text;
};
