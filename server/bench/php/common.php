<?php
// The classic stack's side of the benchmark: the same schema, checks and ranking rule as
// vesquin-scored, on PDO SQLite in WAL mode with synchronous=NORMAL.

function open_table(): PDO {
    $db = new PDO('sqlite:' . getenv('SCORES_DB'), null, null, [
        PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
        PDO::ATTR_TIMEOUT => 5,
    ]);
    // The file is in WAL mode already (it persists); synchronous is per connection.
    $db->exec('PRAGMA synchronous=NORMAL');
    return $db;
}

// The four details and the score, or null with a reason.
function parse_submission(?string &$why): ?array {
    $fields = [];
    foreach (['first_name', 'last_name', 'addr', 'country'] as $key) {
        if (!isset($_GET[$key]) || !is_string($_GET[$key])) { $why = "missing $key"; return null; }
        $value = $_GET[$key];
        if (substr($value, -1) === "\r") $value = substr($value, 0, -1);
        if (strlen($value) > 99) { $why = "$key is longer than 99 bytes"; return null; }
        if (preg_match('/[\x00-\x1f\x7f]/', $value)) { $why = "$key holds a control character"; return null; }
        $fields[] = $value;
    }
    $score = $_GET['score'] ?? '';
    if (!is_string($score) || !preg_match('/^[1-9][0-9]{0,2}$/', $score) || (int)$score > 100) {
        $why = 'score must be a whole number from 1 to 100, plain digits';
        return null;
    }
    $fields[] = (int)$score;
    return $fields;
}

function bind_player(PDOStatement $s, array $f): void {
    for ($i = 0; $i < 4; $i++) $s->bindValue($i + 1, $f[$i], PDO::PARAM_LOB);
}
