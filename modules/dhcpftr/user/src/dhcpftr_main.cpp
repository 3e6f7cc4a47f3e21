/*
 * Process entry: hands the start-up framework the daemon's start-up record, and the framework owns the
 * process from then on.
 */
#include "dhcpftr_init.h"
#include "qv_init.h"

int main(int argc, char **argv)
{
    QV_INIT_T *rec;

    (void)argc;
    (void)argv;
    rec = QV_INIT_alloc();
    if (rec == 0)
        return 1;
    _dhcpftr_fill_init_record(rec);
    QV_INIT_Sys_Init(rec);
    return 0;
}
