// What the tool programs' crawler hooks answer, where a program may choose.
#ifndef CRAWLPEEK_TOOL_HOOKS_HOOK_SETTINGS_H_
#define CRAWLPEEK_TOOL_HOOKS_HOOK_SETTINGS_H_

// Makes sys_get_robot_state_path return dir (absolute, or relative to the
// working directory) instead of "robot". Call before the database is opened.
void tool_set_state_path(const char *dir);

// What sys_get_erase_status answers; 0 until set. A crawl that has finished
// sets it before the visited-URL shutdown, which then clears the crawl start.
void tool_set_erase_status(int status);

#endif  // CRAWLPEEK_TOOL_HOOKS_HOOK_SETTINGS_H_
