#include "api/openapi.h"

#include <nlohmann/json.hpp>

#include "api/roles.h"

namespace tavri {

namespace {

const char* document_text() {
  return R"json({
  "openapi": "3.0.3",
  "info": {"title": "tavri AV server", "version": "0.1",
           "description": "Every route but /healthz, /readyz and signing in needs 'Authorization: Bearer TOKEN' (the service's token, or a named token of tavri-avctl token create) or a console session; each operation's x-role is the least role it needs: viewer, operator or admin. Errors are {\"error\": text, \"field\": argument at fault}; a refused request changes nothing."},
  "components": {
    "securitySchemes": {"token": {"type": "http", "scheme": "bearer"}},
    "schemas": {
      "Error": {"type": "object", "required": ["error"], "properties": {"error": {"type": "string"}, "field": {"type": "string"}}},
      "Players": {"oneOf": [{"type": "string", "enum": ["all"]}, {"type": "array", "items": {"type": "string", "description": "a player's id, \"group:NAME\" for every member of a group, or \"all\""}}]},
      "Player": {"type": "object", "properties": {
        "id": {"type": "string"}, "name": {"type": "string"}, "ip": {"type": "string"}, "online": {"type": "boolean"},
        "state": {"type": "string", "description": "the players table's state: READY, DOWNLOADING MOVIES, ..., OFFLINE after 8 s of silence"},
        "playback": {"type": "string", "enum": ["pause", "play", "send", "attention"]}, "menu": {"type": "boolean"}, "muted": {"type": "boolean"},
        "list": {"type": "object", "properties": {"id": {"type": "string"}, "name": {"type": "string", "nullable": true}}},
        "track": {"type": "string"}, "now_playing": {"type": "string", "nullable": true, "description": "\"Lobby › menu.png, 3 of 7\", or that the list is not one this server sent"}, "background": {"type": "string"}, "device_time": {"type": "string"},
        "last_seen": {"type": "string", "format": "date-time", "nullable": true}, "command": {"type": "string", "nullable": true}}}
    },
    "requestBodies": {
      "Name": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["name"], "properties": {"name": {"type": "string"}}}}}}
    },
    "responses": {
      "Refused": {"description": "bad argument, unknown id or conflict", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}}
    }
  },
  "security": [{"token": []}],
  "paths": {
    "/healthz": {"get": {"security": [], "summary": "The process answers", "responses": {"200": {"description": "alive"}}}},
    "/readyz": {"get": {"security": [], "summary": "Files served on 5003 and feedback socket bound", "responses": {"200": {"description": "ready"}, "503": {"description": "not ready"}}}},
    "/metrics": {"get": {"summary": "Prometheus text format", "responses": {"200": {"description": "metrics", "content": {"text/plain": {}}}}}},
    "/api/openapi.json": {"get": {"summary": "This document", "responses": {"200": {"description": "OpenAPI 3"}}}},
    "/api/events": {"get": {"summary": "Server-Sent Events: player (added, online, offline, renamed, list, removed), command, command-failed, alert, offline-alert, scan (done, total), announcement", "responses": {"200": {"description": "text/event-stream"}}}},
    "/api/players": {"get": {"summary": "Every player; with limit or cursor a page by id ({players, total, next}), with format=compact one array per player in the order of fields ({fields, players, total, next})",
      "parameters": [{"name": "fields", "in": "query", "schema": {"type": "string", "description": "the fields wanted, separated by commas"}},
                     {"name": "limit", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 10000}},
                     {"name": "cursor", "in": "query", "schema": {"type": "string", "description": "the next of the page before"}},
                     {"name": "state", "in": "query", "schema": {"type": "string", "description": "online, offline, or a state such as READY"}},
                     {"name": "group", "in": "query", "schema": {"type": "string"}},
                     {"name": "q", "in": "query", "schema": {"type": "string", "description": "text in the id, name, address, list, what plays or groups"}},
                     {"name": "format", "in": "query", "schema": {"type": "string", "enum": ["full", "compact"]}}],
      "responses": {"200": {"description": "players", "content": {"application/json": {"schema": {"oneOf": [{"type": "array", "items": {"$ref": "#/components/schemas/Player"}}, {"type": "object"}]}}}}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/players/{id}": {
      "parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "string"}}],
      "get": {"summary": "One player", "responses": {"200": {"description": "the player"}, "404": {"$ref": "#/components/responses/Refused"}}},
      "patch": {"summary": "Rename the player", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["name"], "properties": {"name": {"type": "string"}}}}}},
                "responses": {"202": {"description": "sent"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}},
      "delete": {"summary": "Remove the player from the registry", "responses": {"200": {"description": "removed"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/players/{id}/accept-address": {
      "parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "string"}}],
      "post": {"summary": "Take the player's reports from the address in its claimed_by as its own", "responses": {"200": {"description": "accepted"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/commands": {
      "get": {"summary": "The command names", "responses": {"200": {"description": "names"}}},
      "post": {"summary": "A command to players", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["command"], "properties": {
                 "command": {"type": "string", "description": "PLAY, PAUSE, NEXT, BACK, MENU ON, MENU OFF, MUTE, SOUND, CLEAR LIST, CLEAR CONTENT, RESET, REFRESH LISTS, WEB STREAM, BACKGROUND, RENAME, FEEDBACK (any case, - or _ for spaces)"},
                 "players": {"$ref": "#/components/schemas/Players"}, "arguments": {"type": "array", "items": {"type": "string"}}}}}}},
               "responses": {"202": {"description": "sent"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/send": {"post": {"summary": "A playlist or a schedule to players", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "properties": {
                   "playlist": {"oneOf": [{"type": "integer"}, {"type": "string"}]}, "schedule": {"oneOf": [{"type": "integer"}, {"type": "string"}]},
                   "players": {"$ref": "#/components/schemas/Players"}}}}}},
                 "responses": {"202": {"description": "sent"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/publish": {"post": {"summary": "A playlist by name made if missing, given these items and sent to players; a refusal makes nothing", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["playlist", "items", "players"], "properties": {
                   "playlist": {"type": "string"}, "items": {"type": "array", "items": {"type": "object"}},
                   "players": {"$ref": "#/components/schemas/Players"}}}}}},
                 "responses": {"202": {"description": "made, filled and sent"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/sites": {"get": {"summary": "On a hub: every site as it last told its state through the broker (online, last seen, players, groups, announcement, alerts)", "responses": {"200": {"description": "{broker, sites}"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/sites/{name}/players": {"get": {"summary": "On a hub: a site's players as it publishes them", "parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}], "responses": {"200": {"description": "players"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/sites/requests": {"post": {"summary": "On a hub: an API operation signed with the hub's key for some or all sites; each online site's reply, and the offline ones queued", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["sites", "method", "path"], "properties": {
                   "sites": {"oneOf": [{"type": "string", "enum": ["all"]}, {"type": "array", "items": {"type": "string"}}]}, "method": {"type": "string"}, "path": {"type": "string"}, "body": {"type": "object"}}}}}},
                 "responses": {"200": {"description": "{replies, queued, missing}"}, "400": {"$ref": "#/components/responses/Refused"}, "403": {"$ref": "#/components/responses/Refused"}}}},
    "/api/announcement": {
      "get": {"summary": "The running announcement: what, its targets and players, since and until", "responses": {"200": {"description": "{\"running\": false} or the announcement"}}},
      "post": {"summary": "Interrupt players with a playlist, a schedule, a web stream or a background, for some minutes or until ended; one at a time", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["players"], "properties": {
                 "playlist": {"oneOf": [{"type": "integer"}, {"type": "string"}]}, "schedule": {"oneOf": [{"type": "integer"}, {"type": "string"}]}, "stream": {"type": "string"},
                 "background": {"type": "string", "description": "a content file, 1920 x 1080 PNG or JPEG"},
                 "players": {"$ref": "#/components/schemas/Players"}, "minutes": {"type": "integer", "minimum": 0, "maximum": 10080}}}}}},
               "responses": {"202": {"description": "sent"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}},
      "delete": {"summary": "End it: every player gets back what this server last told it to play", "responses": {"200": {"description": "ended"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/alerts": {"get": {"summary": "What the dashboards show at a glance: the outages told and not over (title, text, since, the players still dark), and the running announcement", "responses": {"200": {"description": "{alerts, announcement}"}}}},
    "/api/log": {"get": {"summary": "What the server logged lately, oldest first, without the lines each player's feedback writes", "parameters": [{"name": "lines", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 1000, "default": 100}}],
                 "responses": {"200": {"description": "{lines: [{time, text}]}"}, "400": {"$ref": "#/components/responses/Refused"}}}},
    "/api/groups": {
      "get": {"summary": "Every group with its players and how many are online and offline", "responses": {"200": {"description": "groups"}}},
      "post": {"summary": "Make a group", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["name"], "properties": {"name": {"type": "string"}}}}}},
               "responses": {"201": {"description": "made"}, "400": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/groups/{name}": {"parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "delete": {"summary": "Remove a group (its players stay)", "responses": {"200": {"description": "removed"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/groups/{name}/add": {"parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "post": {"summary": "Add players to a group", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["players"], "properties": {"players": {"$ref": "#/components/schemas/Players"}}}}}},
               "responses": {"200": {"description": "the group's players"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/groups/{name}/remove": {"parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "post": {"summary": "Take players out of a group", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["players"], "properties": {"players": {"$ref": "#/components/schemas/Players"}}}}}},
               "responses": {"200": {"description": "the group's players"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/playlists": {
      "get": {"summary": "Every playlist: id and name", "responses": {"200": {"description": "playlists"}}},
      "post": {"summary": "A new empty playlist", "requestBody": {"$ref": "#/components/requestBodies/Name"},
               "responses": {"201": {"description": "its id"}, "400": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/playlists/{id}": {"parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}}],
      "get": {"summary": "A playlist with its items", "responses": {"200": {"description": "the playlist"}, "404": {"$ref": "#/components/responses/Refused"}}},
      "patch": {"summary": "Rename it", "requestBody": {"$ref": "#/components/requestBodies/Name"},
                "responses": {"200": {"description": "renamed"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}},
      "delete": {"summary": "Remove it and its file; schedules' tasks forget it", "responses": {"200": {"description": "removed"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/playlists/{id}/copy": {"parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}}],
      "post": {"summary": "A copy under a new id", "responses": {"201": {"description": "the copy's id"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/playlists/{id}/items": {"parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}}],
      "put": {"summary": "Set every item, in order: content files, an image with its seconds; published at once",
              "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["items"], "properties": {"items": {"type": "array", "items": {"type": "object", "required": ["file"], "properties": {"file": {"type": "string"}, "seconds": {"type": "integer", "minimum": 1}, "first_date": {"type": "string", "format": "date"}, "last_date": {"type": "string", "format": "date", "description": "the item is left out of what players get outside its dates"}}}}}}}}},
              "responses": {"200": {"description": "set"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/schedules": {
      "get": {"summary": "Every schedule: id, name and number of tasks", "responses": {"200": {"description": "schedules"}}},
      "post": {"summary": "A new empty schedule", "requestBody": {"$ref": "#/components/requestBodies/Name"},
               "responses": {"201": {"description": "its id"}, "400": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/schedules/{id}": {"parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}}],
      "get": {"summary": "A schedule with its tasks", "responses": {"200": {"description": "the schedule"}, "404": {"$ref": "#/components/responses/Refused"}}},
      "patch": {"summary": "Rename it ({\"name\"}), or set the playlist that plays outside its dayparts ({\"fallback\": id, -1 for none})", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "properties": {"name": {"type": "string"}, "fallback": {"type": "integer"}}}}}},
                "responses": {"200": {"description": "renamed"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}},
      "delete": {"summary": "Remove it and its file", "responses": {"200": {"description": "removed"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/schedules/{id}/tasks": {"parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}}],
      "put": {"summary": "Set every task: name, date, time, daily, cut, active and the playlist's id, with if wanted weekly rules (days, first_date, last_date, end_time) that the server compiles into dated tasks over its horizon; and the fallback playlist. Published at once",
              "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["tasks"], "properties": {"tasks": {"type": "array", "items": {"type": "object", "required": ["name", "date", "time", "playlist"],
                "properties": {"name": {"type": "string"}, "date": {"type": "string", "format": "date"}, "time": {"type": "string", "pattern": "^[0-2][0-9]:[0-5][0-9]$"},
                               "daily": {"type": "boolean"}, "cut": {"type": "boolean"}, "active": {"type": "boolean"}, "playlist": {"type": "integer"},
                               "days": {"type": "array", "items": {"type": "string", "enum": ["mon", "tue", "wed", "thu", "fri", "sat", "sun"]}},
                               "first_date": {"type": "string", "format": "date"}, "last_date": {"type": "string", "format": "date"},
                               "end_time": {"type": "string", "pattern": "^[0-2][0-9]:[0-5][0-9]$"}}}}, "fallback": {"type": "integer"}}}}}},
              "responses": {"200": {"description": "set"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/schedules/{id}/copy": {"parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer"}}],
      "post": {"summary": "A copy under a new id", "responses": {"201": {"description": "the copy's id"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/content": {"get": {"summary": "The content items with their metadata, the ids of the playlists using each, and a stream's address", "responses": {"200": {"description": "items"}}}},
    "/api/content/{file}": {"parameters": [{"name": "file", "in": "path", "required": true, "schema": {"type": "string"}}],
      "put": {"summary": "Upload a file into the content folder (send Expect: 100-continue to hear a refusal before the body)",
              "parameters": [{"name": "replace", "in": "query", "schema": {"type": "boolean"}}],
              "requestBody": {"required": true, "content": {"application/octet-stream": {}}},
              "responses": {"201": {"description": "stored"}, "400": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"},
                            "411": {"description": "no Content-Length"}, "507": {"$ref": "#/components/responses/Refused"}}},
      "delete": {"summary": "Delete the file; a linked file needs unlink=true (its items leave the playlists) or unlink=false",
                 "parameters": [{"name": "unlink", "in": "query", "schema": {"type": "boolean"}}],
                 "responses": {"200": {"description": "deleted"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/folder": {
      "get": {"summary": "The content folder", "responses": {"200": {"description": "its path"}}},
      "put": {"summary": "Choose the content folder by its absolute path", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["path"], "properties": {"path": {"type": "string"}}}}}},
              "responses": {"200": {"description": "chosen and scanned"}, "400": {"$ref": "#/components/responses/Refused"}}}},
    "/api/content/streams": {"post": {"summary": "Add a stream", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["name", "address"], "properties": {"name": {"type": "string"}, "address": {"type": "string"}}}}}},
      "responses": {"202": {"description": "added; the list follows its scan"}, "400": {"$ref": "#/components/responses/Refused"}}}},
    "/api/content/{file}/thumbnail": {"parameters": [{"name": "file", "in": "path", "required": true, "schema": {"type": "string"}}],
      "get": {"summary": "An item's thumbnail", "responses": {"200": {"description": "PNG", "content": {"image/png": {}}}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/history/proof-of-play": {"get": {"summary": "Every play in a date range as CSV, or per player and track totals",
      "parameters": [{"name": "from", "in": "query", "required": true, "schema": {"type": "string", "format": "date"}},
                     {"name": "to", "in": "query", "required": true, "schema": {"type": "string", "format": "date"}},
                     {"name": "players", "in": "query", "schema": {"type": "string", "description": "ids, separated by commas; all when missing"}},
                     {"name": "totals", "in": "query", "schema": {"type": "boolean"}}],
      "responses": {"200": {"description": "CSV", "content": {"text/csv": {}}}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/history/players/{id}": {"parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "string"}}],
      "get": {"summary": "A player's uptime of the last 24 hours and its events (online, offline, list, error, command), newest first",
              "parameters": [{"name": "hours", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 2160}}],
              "responses": {"200": {"description": "the timeline"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/login": {"post": {"security": [], "summary": "The web console's sign-in: sets the session cookie and gives the CSRF token that every change must carry as X-CSRF-Token",
      "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["password"], "properties": {"password": {"type": "string"}}}}}},
      "responses": {"200": {"description": "signed in"}, "401": {"$ref": "#/components/responses/Refused"}, "409": {"description": "no password is set"}, "429": {"description": "too many wrong passwords"}}}},
    "/api/logout": {"post": {"summary": "Ends the browser's session", "responses": {"200": {"description": "signed out"}}}},
    "/api/session": {"get": {"security": [], "summary": "Whether the browser is signed in, with its CSRF token", "responses": {"200": {"description": "the session"}}}},
    "/api/password": {"put": {"summary": "Set the web console's password (the token only); every session ends",
      "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["password"], "properties": {"password": {"type": "string", "minLength": 8}}}}}},
      "responses": {"200": {"description": "set"}, "400": {"$ref": "#/components/responses/Refused"}, "403": {"description": "not with a browser session"}}}},
    "/api/me/password": {"put": {"summary": "A signed-in person's own password; their sessions end",
      "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["current", "password"], "properties": {"current": {"type": "string"}, "password": {"type": "string", "minLength": 8}}}}}},
      "responses": {"200": {"description": "set"}, "400": {"$ref": "#/components/responses/Refused"}, "403": {"description": "the current password is wrong, or not a console session"}}}},
    "/api/users": {
      "get": {"summary": "The people who sign in: name, role, created", "responses": {"200": {"description": "accounts"}}},
      "post": {"summary": "A new account", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["name", "role", "password"], "properties": {"name": {"type": "string", "pattern": "^[A-Za-z0-9._@-]{1,64}$"}, "role": {"type": "string", "enum": ["viewer", "operator", "admin"]}, "password": {"type": "string", "minLength": 8}}}}}},
               "responses": {"201": {"description": "made"}, "400": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/users/{name}": {"parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "patch": {"summary": "A new role or password; the account's sessions end", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "properties": {"role": {"type": "string", "enum": ["viewer", "operator", "admin"]}, "password": {"type": "string", "minLength": 8}}}}}},
                "responses": {"200": {"description": "changed"}, "400": {"$ref": "#/components/responses/Refused"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"description": "the last admin"}}},
      "delete": {"summary": "Remove the account; its sessions end", "responses": {"200": {"description": "removed"}, "404": {"$ref": "#/components/responses/Refused"}, "409": {"description": "the last admin"}}}},
    "/api/tokens": {
      "get": {"summary": "The named tokens: name, role, created, last used (never the token)", "responses": {"200": {"description": "tokens"}}},
      "post": {"summary": "A new token for an integration, shown only in this answer", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["name", "role"], "properties": {"name": {"type": "string"}, "role": {"type": "string", "enum": ["viewer", "operator", "admin"]}}}}}},
               "responses": {"201": {"description": "{name, role, token}"}, "400": {"$ref": "#/components/responses/Refused"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/tokens/{name}": {"parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "delete": {"summary": "Revoke the token: it and its event streams end at once", "responses": {"200": {"description": "revoked"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/audit": {"get": {"summary": "Who changed what (every change through any front end, and every sign-in), newest first",
      "parameters": [{"name": "since", "in": "query", "schema": {"type": "string", "description": "a date, a date and time, or a span back from now (90m, 24h, 7d); 24h when missing"}},
                     {"name": "until", "in": "query", "schema": {"type": "string"}},
                     {"name": "who", "in": "query", "schema": {"type": "string"}}, {"name": "operation", "in": "query", "schema": {"type": "string"}},
                     {"name": "limit", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 100000}},
                     {"name": "format", "in": "query", "schema": {"type": "string", "enum": ["json", "csv"]}}],
      "responses": {"200": {"description": "entries: time, who, address, operation, arguments, result"}, "400": {"$ref": "#/components/responses/Refused"}}}},
    "/api/notifications": {"get": {"summary": "Where alerts go: the webhooks and the mail account (no secrets), each with its last delivery", "responses": {"200": {"description": "the targets"}}}},
    "/api/notifications/webhooks/{name}": {"parameters": [{"name": "name", "in": "path", "required": true, "schema": {"type": "string"}}],
      "put": {"summary": "Add or change a webhook: a JSON POST per event, signed in X-Tavri-Signature (sha256=HMAC of the body under the secret); a secret is made and given back when none is sent",
              "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["url"], "properties": {"url": {"type": "string"}, "secret": {"type": "string", "minLength": 16}}}}}},
              "responses": {"200": {"description": "set"}, "400": {"$ref": "#/components/responses/Refused"}}},
      "delete": {"summary": "Remove the webhook", "responses": {"200": {"description": "removed"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/notifications/mail": {
      "put": {"summary": "Set the mail account alerts are sent through", "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["server", "from", "to"], "properties": {
                "server": {"type": "string", "description": "HOST:PORT"}, "security": {"type": "string", "enum": ["starttls", "tls", "none"]}, "user": {"type": "string"}, "password": {"type": "string"},
                "from": {"type": "string"}, "to": {"type": "array", "items": {"type": "string"}}, "ca_file": {"type": "string"}}}}}},
              "responses": {"200": {"description": "set"}, "400": {"$ref": "#/components/responses/Refused"}}},
      "delete": {"summary": "Send no more mail", "responses": {"200": {"description": "removed"}, "404": {"$ref": "#/components/responses/Refused"}}}},
    "/api/notifications/test": {"post": {"summary": "Send a test to \"mail\" or a webhook, once; answered with the outcome",
      "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["target"], "properties": {"target": {"type": "string"}}}}}},
      "responses": {"200": {"description": "delivered"}, "404": {"$ref": "#/components/responses/Refused"}, "502": {"description": "not delivered, and why"}}}},
    "/api/backup": {"get": {"summary": "Every saved-state file and a consistent copy of the history, as a tar archive", "responses": {"200": {"description": "the archive", "content": {"application/x-tar": {}}}}}},
    "/api/export": {"get": {"summary": "The playlist and schedule catalogues as one export file, as the window exports them", "responses": {"200": {"description": "the export", "content": {"application/octet-stream": {}}}}}},
    "/api/import": {"put": {"summary": "Replace the playlist and schedule catalogues with an export's, and reload every list",
      "requestBody": {"content": {"application/octet-stream": {}}},
      "responses": {"200": {"description": "imported"}, "400": {"description": "not an export, or it holds what is not a catalogue"}}}},
    "/api/restore": {"put": {"summary": "Check a backup, keep it for the next start, and restart (exit status 75) to load it",
      "requestBody": {"required": true, "content": {"application/x-tar": {}}},
      "responses": {"202": {"description": "checked; the service restarts"}, "400": {"$ref": "#/components/responses/Refused"}, "507": {"$ref": "#/components/responses/Refused"}}}},
    "/api/rescan": {"post": {"summary": "Scan the content folder again", "responses": {"202": {"description": "scanning"}, "409": {"$ref": "#/components/responses/Refused"}}}},
    "/api/save-all": {"post": {"summary": "Save every list and the registry", "responses": {"202": {"description": "saving"}}}}
  }
})json";
}

}  // namespace

std::string openapi_document() {
  // Each operation says the role it needs, as the listener's table has it.
  auto doc = nlohmann::json::parse(document_text());
  for (auto& [path, operations] : doc["paths"].items())
    for (auto& [method, operation] : operations.items()) {
      if (method == "parameters") continue;
      std::string verb = method;
      for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      for (const api::RouteRole& r : api::route_roles())
        if (r.method == verb && r.pattern == path) operation["x-role"] = std::string(api::role_name(r.role));
    }
  return doc.dump(1);
}

}  // namespace tavri
