#include "ctl/controller.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    Controller controller(out, err, ::isatty(STDERR_FILENO) == 1);
    const int status = controller.run(QCoreApplication::arguments().mid(1));
    out.flush();
    err.flush();
    return status;
}
