<?php
require __DIR__ . '/common.php';

header('Content-Type: text/plain; charset=utf-8');
$f = parse_submission($why);
if ($f === null) { http_response_code(400); echo "$why\n"; exit; }
$now = (int)(microtime(true) * 1000);
$db = open_table();
$db->exec('BEGIN IMMEDIATE');
$insert = $db->prepare('INSERT INTO submissions(received_at, client, first_name, last_name, addr, country, score) '
    . 'VALUES(?5, ?6, ?1, ?2, ?3, ?4, ?7)');
bind_player($insert, $f);
$insert->bindValue(5, $now, PDO::PARAM_INT);
$insert->bindValue(6, $_SERVER['REMOTE_ADDR']);
$insert->bindValue(7, $f[4], PDO::PARAM_INT);
$insert->execute();
$id = (int)$db->lastInsertId();
$upsert = $db->prepare('INSERT INTO players(first_name, last_name, addr, country, best_score, reached_at, '
    . 'reached_submission) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT(first_name, last_name, addr, country) '
    . 'DO UPDATE SET best_score = excluded.best_score, reached_at = excluded.reached_at, '
    . 'reached_submission = excluded.reached_submission WHERE excluded.best_score > players.best_score');
bind_player($upsert, $f);
$upsert->bindValue(5, $f[4], PDO::PARAM_INT);
$upsert->bindValue(6, $now, PDO::PARAM_INT);
$upsert->bindValue(7, $id, PDO::PARAM_INT);
$upsert->execute();
$link = $db->prepare('UPDATE submissions SET player_id = (SELECT id FROM players WHERE first_name = ?1 '
    . 'AND last_name = ?2 AND addr = ?3 AND country = ?4) WHERE id = ?5');
bind_player($link, $f);
$link->bindValue(5, $id, PDO::PARAM_INT);
$link->execute();
$db->exec('COMMIT');
