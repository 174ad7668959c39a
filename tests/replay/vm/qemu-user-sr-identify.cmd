as_user velmo-cli --trace=/tmp/velmo/user-sr-identify.trace identify
