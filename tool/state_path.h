// The robot state directory crawlpeek reads, as its hooks report it.
#ifndef CRAWLPEEK_TOOL_STATE_PATH_H_
#define CRAWLPEEK_TOOL_STATE_PATH_H_

// Makes sys_get_robot_state_path return dir (absolute, or relative to the
// working directory) instead of "robot". Call before the database is opened.
void crawlpeek_set_state_path(const char *dir);

#endif  // CRAWLPEEK_TOOL_STATE_PATH_H_
