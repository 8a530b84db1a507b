#include "terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace TestSupport {

PausableTerminal::PausableTerminal()
{
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        master = slave = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

PausableTerminal::~PausableTerminal()
{
    if (slave >= 0)
        close(slave);
    if (master >= 0)
        close(master);
}

bool PausableTerminal::setSize(int columns, int rows)
{
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    return isOpen() && ioctl(master, TIOCSWINSZ, &size) == 0;
}

bool PausableTerminal::pause()
{
    return isOpen() && write(master, "\x13", 1) == 1;
}

bool PausableTerminal::resume()
{
    return isOpen() && write(master, "\x11", 1) == 1;
}

QByteArray PausableTerminal::read()
{
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; isOpen() && (n = ::read(master, buffer, sizeof buffer)) > 0;)
        out.append(buffer, int(n));
    return out;
}

} // namespace TestSupport
