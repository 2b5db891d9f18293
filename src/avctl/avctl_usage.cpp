#include "avctl/avctl_usage.h"

#include <cstdio>

namespace tavri::avctl {
namespace {

const char kUsageText[] =
    "Usage: tavri-avctl [--url URL] [--ca-file FILE] [--token-file FILE] [--json] COMMAND [ARGUMENTS]\n"
    "\n"
    "  status                         is the server up, and how many players are online\n"
    "  players                        every player: id, name, state, list, last seen\n"
    "  playlists | schedules [TEXT]   the catalogues, or the lists whose names hold TEXT\n"
    "  playlist|schedule create NAME | rename ID NAME | copy ID | remove ID   [--if-match ETAG]\n"
    "  schedule fallback ID PLAYLIST-ID|none   what plays outside the schedule's dayparts\n"
    "  tasks SCHEDULE-ID [TASK...]    show a schedule's tasks, or set them all, each as one argument:\n"
    "                                 \"name=Breakfast;time=07:00;playlist=3\" with, if wanted, date=, days=mon-fri+sun,\n"
    "                                 first=YYYY-MM-DD, last=YYYY-MM-DD, end=HH:MM, cut=yes, active=no, daily=no\n"
    "  send playlist|schedule NAME|ID --to all|ID|@GROUP... [--wait]   (--wait: until each confirmed or failed)\n"
    "  play|pause|next|back|menu-on|menu-off|mute|sound|clear-list|clear-content|reset|refresh-lists --to TARGETS [--wait]\n"
    "  web-stream URL --to TARGETS    background FILE --to TARGETS   (TARGETS: all, or ids and @GROUP)\n"
    "  announce playlist|schedule NAME|ID | stream URL | background FILE [--minutes N] --to TARGETS\n"
    "                                 interrupt those players until ended (or N minutes), then give each its own back\n"
    "  announce [end]                 what is announced now, or end it\n"
    "  groups                         every group: its players, how many online\n"
    "  group create NAME | remove NAME | add NAME ID... | take-out NAME ID...\n"
    "  rename ID NAME                 remove ID...                  feedback\n"
    "  accept-address ID              take a player's reports from its new address (see players: IP)\n"
    "  save-all                       events (follow, until interrupted)\n"
    "  content                        the content items      rescan        folder [PATH]\n"
    "  upload [--replace] FILE...     into the content folder, with progress\n"
    "  stream NAME ADDRESS            delete FILE [--unlink|--keep-items]\n"
    "  items PLAYLIST-ID FILE[:SECONDS][@FIRST..LAST]...   set a playlist's items in this order; an item\n"
    "                                 with dates (YYYY-MM-DD, either may be left out) plays on those days only\n"
    "  backup FILE                    the saved state and the history in one archive\n"
    "  restore FILE                   check a backup and restart the service with it\n"
    "  export FILE                    the playlists and schedules as one export file\n"
    "  import FILE                    replace the playlists and schedules with an export's\n"
    "  user list | add NAME --role viewer|operator|admin | remove NAME | role NAME ROLE | password NAME\n"
    "                                 the people who sign in to the web console (passwords asked twice,\n"
    "                                 or one line on stdin)\n"
    "  token list | create NAME --role ROLE | revoke NAME   tokens for integrations (shown once when made)\n"
    "  audit [--since WHEN] [--until WHEN] [--who TEXT] [--operation TEXT] [--limit N] [--csv]\n"
    "                                 who changed what (WHEN: YYYY-MM-DD[THH:MM], or 90m, 24h, 7d back)\n"
    "  notify [list]                  where alerts go (webhooks, mail) and how the last delivery went\n"
    "  notify webhook add NAME URL [--secret S] | webhook remove NAME\n"
    "  notify mail --server HOST:PORT [--security starttls|tls|none] [--user NAME] [--mail-ca-file PEM]\n"
    "                                 --from ADDRESS --to ADDRESS,...   (the mail server's own CA, if not the system's)\n"
    "  notify mail remove             notify test mail|NAME   (sends one now and says how it went)\n"
    "  password                       set the password of the console's account \"admin\"\n"
    "  proof-of-play --from YYYY-MM-DD --to YYYY-MM-DD [--totals] [--players ID,ID...]   CSV on stdout\n"
    "  items PLAYLIST-ID              a playlist's items with their lengths and dates, and its whole length\n"
    "  history ID [--hours N]         a player's uptime and what happened to it (24 hours unless N)\n"
    "  log [--lines N]                what the server logged lately (100 lines unless N), feedback aside\n"
    "\n"
    "Many sites, through an MQTT broker (the hub's key signs every request):\n"
    "  hub-key create [FILE]          make the hub's key pair: the secret into FILE (default hub.key in\n"
    "                                 ~/.config/tavri_av_server), the public key printed for each site's [sites]\n"
    "  --broker URL sites             every site: online or offline, its players, last seen, open alerts\n"
    "  --broker URL --site NAME|all COMMAND ...   any command above on those sites; an offline site's\n"
    "                                 request waits at the broker (queued) and runs when it returns\n"
    "  --broker URL publish --site NAME|all --media FILE... --playlist NAME [--seconds N] --to TARGETS\n"
    "                                 the media uploaded to this server (--url) and fetched by each site from\n"
    "                                 it (or --no-upload --origin URL), checked by SHA-256, the playlist of that\n"
    "                                 name made or refilled with them, and sent\n"
    "  broker options: --hub-key FILE --broker-user NAME --broker-password-file FILE --broker-ca FILE\n"
    "                  --broker-cert FILE --broker-key FILE --timeout SECONDS (10; publish 300)\n"
    "\n"
    "URL defaults to http://127.0.0.1:5080 ($TAVRI_API_URL); an https URL is checked against the system's\n"
    "certificates, or against --ca-file. The token is read from FILE, $TAVRI_TOKEN_FILE,\n"
    "~/.local/share/tavri_av_server/api_token or /var/lib/tavri-av-server/api_token, the first that exists.\n"
    "Exit status: 0 done, 1 refused (the message says why), 2 usage, 3 server not reachable, 4 token refused,\n"
    "5 server error, 6 the server's disk is full; through the broker, 3 also when a site is offline (queued)\n"
    "or did not reply in time.\n";

}  // namespace

const QStringList kCommands = {
    "status", "players", "playlists", "schedules", "playlist", "schedule", "send", "play", "pause", "next",
    "back", "menu-on", "menu-off", "mute", "sound", "clear-list", "clear-content", "reset", "refresh-lists",
    "web-stream", "background", "rename", "remove", "feedback", "save-all", "events", "content", "rescan",
    "folder", "upload", "stream", "delete", "items", "backup", "restore", "export", "import", "password",
    "proof-of-play", "history", "log", "accept-address", "groups", "group", "tasks", "announce", "user", "token", "audit", "notify",
    "sites", "hub-key", "publish"};

int usage(const char* why) {
  if (why) std::fprintf(stderr, "tavri-avctl: %s\n", why);
  std::fputs(kUsageText, why ? stderr : stdout);
  return kUsage;
}

}  // namespace tavri::avctl
