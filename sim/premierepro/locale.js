'use strict';
// The language the simulated Premiere speaks. Premiere localises the display names of
// effects, components and parameters (a German Premiere shows "Bewegung" > "Skalierung"
// where an English one shows "Motion" > "Scale"); match names stay the same in every
// language. The model keeps the English names; the API hands out the translation of the
// language played (`createSim({ locale })`, `sim/main.js --locale de_DE`).
//
// The translations follow the names of Premiere's German and Japanese user interfaces as
// far as they could be recalled; they are stand-ins for "some other language", and no test
// relies on their exact wording beyond their being different from the English ones. A
// name without a translation here stays English (as some effect names do in Premiere).

const LOCALES = ['en_US', 'de_DE', 'ja_JP'];

const NAMES = {
  de_DE: {
    // fixed effects and their parameters
    'Motion': 'Bewegung', 'Opacity': 'Deckkraft', 'Volume': 'Lautstärke', 'Channel Volume': 'Kanallautstärke', 'Panner': 'Panorama',
    'Position': 'Position', 'Scale': 'Skalierung', 'Scale Width': 'Skalierungsbreite', 'Uniform Scale': 'Einheitliche Skalierung',
    'Rotation': 'Drehung', 'Anchor Point': 'Ankerpunkt', 'Anti-flicker Filter': 'Flimmerreduzierung', 'Blend Mode': 'Füllmethode',
    'Bypass': 'Umgehen', 'Level': 'Pegel', 'Left': 'Links', 'Right': 'Rechts', 'Balance': 'Balance',
    // effects
    'Gaussian Blur': 'Gaußscher Weichzeichner', 'Mosaic': 'Mosaik', 'Crop': 'Zuschneiden', 'Transform': 'Transformieren',
    'Black & White': 'Schwarzweiß', 'Invert': 'Umkehren', 'Tint': 'Färbung', 'Brightness & Contrast': 'Helligkeit und Kontrast',
    'Horizontal Flip': 'Horizontal spiegeln', 'Vertical Flip': 'Vertikal spiegeln', 'Blurriness': 'Stärke',
    'Reverb': 'Hall', 'Studio Reverb': 'Studio-Hall', 'Amplify': 'Verstärken', 'DeNoise': 'Entrauschen', 'Delay': 'Verzögerung',
  },
  ja_JP: {
    'Motion': 'モーション', 'Opacity': '不透明度', 'Volume': 'ボリューム', 'Channel Volume': 'チャンネルボリューム', 'Panner': 'パンナー',
    'Position': '位置', 'Scale': 'スケール', 'Scale Width': 'スケール（幅）', 'Uniform Scale': '縦横比を固定',
    'Rotation': '回転', 'Anchor Point': 'アンカーポイント', 'Anti-flicker Filter': 'アンチフリッカー', 'Blend Mode': '描画モード',
    'Bypass': 'バイパス', 'Level': 'レベル', 'Left': '左', 'Right': '右', 'Balance': 'バランス',
    'Gaussian Blur': 'ブラー（ガウス）', 'Mosaic': 'モザイク', 'Crop': 'クロップ', 'Transform': 'トランスフォーム',
    'Black & White': '白黒', 'Invert': '反転', 'Tint': '色合い', 'Brightness & Contrast': '明るさ・コントラスト',
    'Horizontal Flip': '水平反転', 'Vertical Flip': '垂直反転', 'Blurriness': 'ブラー',
    'Reverb': 'リバーブ', 'Studio Reverb': 'スタジオリバーブ', 'Amplify': 'ゲイン', 'DeNoise': 'ノイズ除去', 'Delay': 'ディレイ',
  },
};

/** "de_DE", "de-de" … → "de_DE"; throws for a language the simulator does not speak. */
function normaliseLocale(locale) {
  if (locale === undefined || locale === null || locale === '') return 'en_US';
  const m = /^([a-z]{2})[_-]([a-z]{2})$/i.exec(String(locale));
  const text = m ? `${m[1].toLowerCase()}_${m[2].toUpperCase()}` : String(locale);
  if (!LOCALES.includes(text)) throw new Error(`The simulator speaks ${LOCALES.join(', ')}, not ${locale}`);
  return text;
}

/** The display name Premiere shows in `locale` for the English name `name`. */
function localName(locale, name) {
  const table = NAMES[locale];
  return table && Object.prototype.hasOwnProperty.call(table, name) ? table[name] : name;
}

/** The English name behind a display name shown in `locale` (the name itself when none). */
function englishName(locale, display) {
  const table = NAMES[locale];
  if (!table) return display;
  for (const [en, local] of Object.entries(table)) if (local === display) return en;
  return display;
}

module.exports = { LOCALES, normaliseLocale, localName, englishName };
