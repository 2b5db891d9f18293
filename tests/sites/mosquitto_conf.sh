#!/usr/bin/env bash
# The broker's configuration the README gives, for a test: TLS, a password
# per site, and the ACL. Files are read from FOLDER.
#   usage: mosquitto_conf.sh FOLDER PORT
folder="$1"; port="$2"
cat >"$folder/acl" <<'ACL'
# The hub reads everything and alone sends requests.
user hub
topic readwrite tavri/v1/#

# Each site (its user's name is the site's) writes only its own subtree,
# and reads only the requests to it and to all.
pattern write tavri/v1/sites/%u/state
pattern write tavri/v1/sites/%u/seen
pattern write tavri/v1/sites/%u/events
pattern write tavri/v1/sites/%u/players/#
pattern write tavri/v1/sites/%u/replies/#
pattern read tavri/v1/sites/%u/requests/#
pattern read tavri/v1/all/requests/#
ACL
cat <<CONF
per_listener_settings false
set_tcp_nodelay true
max_packet_size 8388608
allow_anonymous false
password_file $folder/passwords
acl_file $folder/acl
persistence false
max_queued_messages 10000
listener $port
certfile $folder/broker.pem
keyfile $folder/broker.key
cafile $folder/ca.pem
tls_version tlsv1.2
CONF
