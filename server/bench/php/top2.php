<?php
require __DIR__ . '/common.php';

header('Content-Type: text/plain; charset=utf-8');
$f = parse_submission($why);
if ($f === null) exit;
$db = open_table();
$place = $db->prepare('SELECT id = (SELECT id FROM players WHERE first_name = ?1 AND last_name = ?2 AND addr = ?3 '
    . 'AND country = ?4) FROM players ORDER BY best_score DESC, reached_submission ASC LIMIT 10');
bind_player($place, $f);
$place->execute();
$row = 0;
while (($mine = $place->fetchColumn()) !== false) {
    $row++;
    if ((int)$mine === 1) { echo $row; break; }
}
