#include "tool/reading/pages_passed_over.h"

#include <cinttypes>
#include <cstdio>

#include "robot/page_snapshot.h"

void report_pages_passed_over(const char *program, const storage_object *obj) {
    const PageSnapshot *snapshot = sto_page_snapshot(obj);
    if (snapshot == nullptr) return;
    const PageSnapshot::PassedOver passed = snapshot->passed_over();
    if (passed.pages == 0 && passed.records == 0) return;
    std::fprintf(stderr,
                 "%s: %s: %" PRIu64 " pages and %" PRIu64
                 " records caught being written were passed over\n",
                 program, obj->name.c_str(), passed.pages, passed.records);
}
