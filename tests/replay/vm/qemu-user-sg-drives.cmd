as_user velmo-cli --trace=/tmp/velmo/user-sg-drives.trace drives
