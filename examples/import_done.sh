#!/bin/sh
# import_done.sh - the last step of a nightly import job on a Linux server:
# tell every FoxPro desktop on the server's subnets that the data is in.
#
#   import_done.sh ROWS
#
# Call it when the job has finished, from the end of the cron job's script
# or from its systemd unit (ExecStartPost=/usr/local/bin/import_done.sh 0).
# It needs only the zanvor tool of zanvor-VERSION-linux-x86_64.tar.gz on the
# PATH: no daemon, no root rights, nothing to configure. The desktops need
# the inbound firewall rule for UDP port 38217 (docs/networks.md).
set -eu
rows="${1:-0}"
zanvor post import_done "$(date +%Y-%m-%d): $rows rows imported"
