#include "ui/Lang.h"

#include "platform/Text.h"

#include <optional>

namespace {

constexpr TLanguage kLanguages[] = {
    {"pt-BR", "Português"},
    {"en-US", "English"},
    {"es-ES", "Español"},
    {"fr-FR", "Français"},
};

constexpr TLangText kPtBR[] = {
    {"app_title", "TAVIX Encoder Free"},
    {"encoder", "ENCODER"},
    {"stopped", "Parado."},
    {"starting", "Iniciando transmissão..."},
    {"start", "Iniciar transmissão"},
    {"stop", "Encerrar transmissão"},
    {"config", "Configurações"},
    {"vu_title", "V.U DIGITAL"},
    {"no_device", "Nenhum canal selecionado"},
    {"noar_caption", "NO AR"},
    {"noar_empty", "Nenhuma música informada no noar.txt"},
    {"eq_title", "EQUALIZADOR DO ÁUDIO"},
    {"active_close", "A transmissão está ativa. Encerrar o encoder?"},
    {"cfg_title", "Configurações do Encoder"},
    {"tab_server", "Servidor"},
    {"tab_audio", "Áudio"},
    {"tab_metadata", "Metadados"},
    {"tab_eq", "Equalizador"},
    {"tab_ftp", "FTP"},
    {"tab_record", "Gravação"},
    {"server_type", "Tipo de servidor"},
    {"host", "Host"},
    {"port", "Porta"},
    {"mount", "Mount/Stream"},
    {"user", "Usuário"},
    {"password", "Senha"},
    {"codec", "Codec"},
    {"bitrate", "Bitrate"},
    {"sample_rate", "Sample rate"},
    {"channels", "Canais"},
    {"capture_channel", "Canal de captura"},
    {"refresh", "Atualizar"},
    {"listing_devices", "Procurando dispositivos de áudio..."},
    {"public_name", "Nome público"},
    {"genre", "Gênero"},
    {"url", "URL"},
    {"noar_file", "Arquivo no ar"},
    {"browse", "Procurar"},
    {"save", "Salvar"},
    {"cancel", "Cancelar"},
    {"language", "Idioma"},
    {"eq_preset", "Preset"},
    {"eq_flat", "Plano"},
    {"preset_flat", "Plano"},
    {"preset_voice", "Voz"},
    {"preset_music", "Música"},
    {"preset_bass", "Graves"},
    {"preset_presence", "Presença"},
    {"ftp_enabled", "Enviar arquivo no ar por FTP"},
    {"ftp_host", "Host FTP"},
    {"ftp_port", "Porta"},
    {"ftp_user", "Usuário FTP"},
    {"ftp_password", "Senha FTP"},
    {"ftp_remote_dir", "Diretório no FTP"},
    {"ftp_remote_file", "Nome do arquivo"},
    {"ftp_cron_url", "URL cronjob"},
    {"ftp_passive", "Modo passivo"},
    {"tls", "Conexão segura (TLS)"},
    {"tls_trust_ask", "O certificado do servidor não é confiável. Impressão digital SHA-256:\n%1\n\nConfiar neste certificado para este servidor?"},
    {"tls_trusted", "Certificado confiável salvo. Inicie a transmissão novamente."},
    {"compressor", "Compressor de áudio"},
    {"port_invalid", "A porta do servidor deve ser um número de 1 a 65535."},
    {"ftp_port_invalid", "A porta do FTP deve ser um número de 1 a 65535."},
    {"record_enabled", "Gravar a transmissão em arquivo"},
    {"record_folder", "Pasta da gravação"},
    {"record_split", "Novo arquivo a cada"},
    {"record_never", "Nunca"},
    {"record_split_hint", "Um arquivo novo começa em cada múltiplo desses minutos no relógio: com 60, na hora cheia."},
    {"record_folder_invalid", "Informe a pasta da gravação como um caminho completo (por exemplo /home/radio/Música)."},
    {"server_n", "Servidor %1"},
    {"server_enabled", "Usar este servidor"},
    {"server_host_missing", "Informe o host do servidor %1."},
    {"server_port_invalid", "A porta do servidor %1 deve ser um número de 1 a 65535."},
    {"server_line", "Servidor %1: %2"},
    {"stopping", "Parando..."},
    {"listeners", "Ouvintes: "},
    {"band_low", "Grave"},
    {"band_mid", "Médio"},
    {"band_high", "Agudo"},
    {"eq_heading", "Ajustes de áudio salvos nas configurações"},
    {"noar_filter_text", "Texto no ar"},
    {"noar_filter_all", "Todos os arquivos"},
    {"yes", "Sim"},
    {"no", "Não"},
};
constexpr TLangText kEnUS[] = {
    {"app_title", "TAVIX Encoder Free"},
    {"encoder", "ENCODER"},
    {"stopped", "Stopped."},
    {"starting", "Starting the broadcast..."},
    {"start", "Start streaming"},
    {"stop", "Stop streaming"},
    {"config", "Settings"},
    {"vu_title", "DIGITAL VU"},
    {"no_device", "No audio channel selected"},
    {"noar_caption", "ON AIR"},
    {"noar_empty", "No song informed in noar.txt"},
    {"eq_title", "AUDIO EQUALIZER"},
    {"active_close", "Streaming is active. Stop encoder?"},
    {"cfg_title", "Encoder Settings"},
    {"tab_server", "Server"},
    {"tab_audio", "Audio"},
    {"tab_metadata", "Metadata"},
    {"tab_eq", "Equalizer"},
    {"tab_ftp", "FTP"},
    {"tab_record", "Recording"},
    {"server_type", "Server type"},
    {"host", "Host"},
    {"port", "Port"},
    {"mount", "Mount/Stream"},
    {"user", "User"},
    {"password", "Password"},
    {"codec", "Codec"},
    {"bitrate", "Bitrate"},
    {"sample_rate", "Sample rate"},
    {"channels", "Channels"},
    {"capture_channel", "Capture channel"},
    {"refresh", "Refresh"},
    {"listing_devices", "Looking for audio devices..."},
    {"public_name", "Public name"},
    {"genre", "Genre"},
    {"url", "URL"},
    {"noar_file", "Now playing file"},
    {"browse", "Browse"},
    {"save", "Save"},
    {"cancel", "Cancel"},
    {"language", "Language"},
    {"eq_preset", "Preset"},
    {"eq_flat", "Flat"},
    {"preset_flat", "Flat"},
    {"preset_voice", "Voice"},
    {"preset_music", "Music"},
    {"preset_bass", "Bass"},
    {"preset_presence", "Presence"},
    {"ftp_enabled", "Upload now playing file by FTP"},
    {"ftp_host", "FTP host"},
    {"ftp_port", "Port"},
    {"ftp_user", "FTP user"},
    {"ftp_password", "FTP password"},
    {"ftp_remote_dir", "FTP directory"},
    {"ftp_remote_file", "Remote file name"},
    {"ftp_cron_url", "Cronjob URL"},
    {"ftp_passive", "Passive mode"},
    {"tls", "Secure connection (TLS)"},
    {"tls_trust_ask", "The server's certificate is not trusted. SHA-256 fingerprint:\n%1\n\nTrust this certificate for this server?"},
    {"tls_trusted", "Trusted certificate saved. Start streaming again."},
    {"compressor", "Audio compressor"},
    {"port_invalid", "The server port must be a number from 1 to 65535."},
    {"ftp_port_invalid", "The FTP port must be a number from 1 to 65535."},
    {"record_enabled", "Record the broadcast to a file"},
    {"record_folder", "Recording folder"},
    {"record_split", "New file every"},
    {"record_never", "Never"},
    {"record_split_hint", "A new file starts at each multiple of these minutes on the clock: with 60, on the hour."},
    {"record_folder_invalid", "Enter the recording folder as a full path (for example /home/radio/Music)."},
    {"server_n", "Server %1"},
    {"server_enabled", "Use this server"},
    {"server_host_missing", "Enter the host of server %1."},
    {"server_port_invalid", "The port of server %1 must be a number from 1 to 65535."},
    {"server_line", "Server %1: %2"},
    {"stopping", "Stopping..."},
    {"listeners", "Listeners: "},
    {"band_low", "Low"},
    {"band_mid", "Mid"},
    {"band_high", "High"},
    {"eq_heading", "Audio adjustments saved in the settings"},
    {"noar_filter_text", "On-air text"},
    {"noar_filter_all", "All files"},
    {"yes", "Yes"},
    {"no", "No"},
};
constexpr TLangText kEsES[] = {
    {"app_title", "TAVIX Encoder Free"},
    {"stopped", "Detenido."},
    {"starting", "Iniciando la transmisión..."},
    {"start", "Iniciar transmisión"},
    {"stop", "Detener transmisión"},
    {"config", "Configuración"},
    {"vu_title", "V.U DIGITAL"},
    {"no_device", "Ningún canal seleccionado"},
    {"noar_caption", "EN VIVO"},
    {"noar_empty", "Ninguna canción informada en noar.txt"},
    {"eq_title", "ECUALIZADOR DE AUDIO"},
    {"cfg_title", "Configuración del Encoder"},
    {"tab_server", "Servidor"},
    {"tab_audio", "Audio"},
    {"tab_metadata", "Metadatos"},
    {"tab_eq", "Ecualizador"},
    {"tab_ftp", "FTP"},
    {"tab_record", "Grabación"},
    {"server_type", "Tipo de servidor"},
    {"user", "Usuario"},
    {"password", "Contraseña"},
    {"channels", "Canales"},
    {"capture_channel", "Canal de captura"},
    {"refresh", "Actualizar"},
    {"listing_devices", "Buscando dispositivos de audio..."},
    {"public_name", "Nombre público"},
    {"genre", "Género"},
    {"noar_file", "Archivo al aire"},
    {"browse", "Buscar"},
    {"save", "Guardar"},
    {"cancel", "Cancelar"},
    {"language", "Idioma"},
    {"eq_preset", "Preset"},
    {"eq_flat", "Plano"},
    {"preset_flat", "Plano"},
    {"preset_voice", "Voz"},
    {"preset_music", "Música"},
    {"preset_bass", "Graves"},
    {"preset_presence", "Presencia"},
    {"ftp_enabled", "Enviar archivo al aire por FTP"},
    {"ftp_host", "Host FTP"},
    {"ftp_port", "Puerto"},
    {"ftp_user", "Usuario FTP"},
    {"ftp_password", "Contraseña FTP"},
    {"ftp_remote_dir", "Directorio FTP"},
    {"ftp_remote_file", "Nombre del archivo"},
    {"ftp_cron_url", "URL cronjob"},
    {"ftp_passive", "Modo pasivo"},
    {"tls", "Conexión segura (TLS)"},
    {"tls_trust_ask", "El certificado del servidor no es de confianza. Huella digital SHA-256:\n%1\n\n¿Confiar en este certificado para este servidor?"},
    {"tls_trusted", "Certificado de confianza guardado. Inicie la transmisión de nuevo."},
    {"compressor", "Compresor de audio"},
    {"port_invalid", "El puerto del servidor debe ser un número de 1 a 65535."},
    {"ftp_port_invalid", "El puerto FTP debe ser un número de 1 a 65535."},
    {"record_enabled", "Grabar la transmisión en un archivo"},
    {"record_folder", "Carpeta de grabación"},
    {"record_split", "Nuevo archivo cada"},
    {"record_never", "Nunca"},
    {"record_split_hint", "Un archivo nuevo empieza en cada múltiplo de esos minutos en el reloj: con 60, a la hora en punto."},
    {"record_folder_invalid", "Indique la carpeta de grabación como una ruta completa (por ejemplo /home/radio/Música)."},
    {"server_n", "Servidor %1"},
    {"server_enabled", "Usar este servidor"},
    {"server_host_missing", "Indique el host del servidor %1."},
    {"server_port_invalid", "El puerto del servidor %1 debe ser un número de 1 a 65535."},
    {"server_line", "Servidor %1: %2"},
    {"stopping", "Deteniendo..."},
    {"listeners", "Oyentes: "},
    {"band_low", "Grave"},
    {"band_mid", "Medio"},
    {"band_high", "Agudo"},
    {"eq_heading", "Ajustes de audio guardados en la configuración"},
    {"noar_filter_text", "Texto al aire"},
    {"noar_filter_all", "Todos los archivos"},
    {"yes", "Sí"},
    {"no", "No"},
};
constexpr TLangText kFrFR[] = {
    {"app_title", "TAVIX Encoder Free"},
    {"stopped", "Arrêté."},
    {"starting", "Démarrage de la diffusion..."},
    {"start", "Démarrer la diffusion"},
    {"stop", "Arrêter la diffusion"},
    {"config", "Paramètres"},
    {"vu_title", "VU NUMÉRIQUE"},
    {"no_device", "Aucun canal sélectionné"},
    {"noar_caption", "À L’ANTENNE"},
    {"noar_empty", "Aucun titre indiqué dans noar.txt"},
    {"eq_title", "ÉGALISEUR AUDIO"},
    {"cfg_title", "Paramètres de l’encodeur"},
    {"tab_server", "Serveur"},
    {"tab_audio", "Audio"},
    {"tab_metadata", "Métadonnées"},
    {"tab_eq", "Égaliseur"},
    {"tab_ftp", "FTP"},
    {"tab_record", "Enregistrement"},
    {"server_type", "Type de serveur"},
    {"user", "Utilisateur"},
    {"password", "Mot de passe"},
    {"channels", "Canaux"},
    {"capture_channel", "Canal de capture"},
    {"refresh", "Actualiser"},
    {"listing_devices", "Recherche des périphériques audio..."},
    {"public_name", "Nom public"},
    {"genre", "Genre"},
    {"noar_file", "Fichier à l’antenne"},
    {"browse", "Parcourir"},
    {"save", "Enregistrer"},
    {"cancel", "Annuler"},
    {"language", "Langue"},
    {"eq_preset", "Preset"},
    {"eq_flat", "Plat"},
    {"preset_flat", "Plat"},
    {"preset_voice", "Voix"},
    {"preset_music", "Musique"},
    {"preset_bass", "Basses"},
    {"preset_presence", "Présence"},
    {"ftp_enabled", "Envoyer le fichier antenne par FTP"},
    {"ftp_host", "Hôte FTP"},
    {"ftp_port", "Port"},
    {"ftp_user", "Utilisateur FTP"},
    {"ftp_password", "Mot de passe FTP"},
    {"ftp_remote_dir", "Dossier FTP"},
    {"ftp_remote_file", "Nom du fichier"},
    {"ftp_cron_url", "URL cronjob"},
    {"ftp_passive", "Mode passif"},
    {"tls", "Connexion sécurisée (TLS)"},
    {"tls_trust_ask", "Le certificat du serveur n’est pas reconnu. Empreinte SHA-256 :\n%1\n\nFaire confiance à ce certificat pour ce serveur ?"},
    {"tls_trusted", "Certificat de confiance enregistré. Relancez la diffusion."},
    {"compressor", "Compresseur audio"},
    {"port_invalid", "Le port du serveur doit être un nombre de 1 à 65535."},
    {"ftp_port_invalid", "Le port FTP doit être un nombre de 1 à 65535."},
    {"record_enabled", "Enregistrer la diffusion dans un fichier"},
    {"record_folder", "Dossier d’enregistrement"},
    {"record_split", "Nouveau fichier toutes les"},
    {"record_never", "Jamais"},
    {"record_split_hint", "Un nouveau fichier commence à chaque multiple de ces minutes sur l’horloge : avec 60, à l’heure pile."},
    {"record_folder_invalid", "Indiquez le dossier d’enregistrement par un chemin complet (par exemple /home/radio/Musique)."},
    {"server_n", "Serveur %1"},
    {"server_enabled", "Utiliser ce serveur"},
    {"server_host_missing", "Indiquez l’hôte du serveur %1."},
    {"server_port_invalid", "Le port du serveur %1 doit être un nombre de 1 à 65535."},
    {"server_line", "Serveur %1 : %2"},
    {"stopping", "Arrêt en cours..."},
    {"listeners", "Auditeurs : "},
    {"band_low", "Grave"},
    {"band_mid", "Médium"},
    {"band_high", "Aigu"},
    {"eq_heading", "Réglages audio enregistrés dans la configuration"},
    {"noar_filter_text", "Texte à l'antenne"},
    {"noar_filter_all", "Tous les fichiers"},
    {"yes", "Oui"},
    {"no", "Non"},
};

enum class TLangTable { PtBR, EnUS, EsES, FrFR };

TLangTable TableOf(const std::string& ALangCode)
{
    if (SameTextAscii(ALangCode, "en-US"))
        return TLangTable::EnUS;
    if (SameTextAscii(ALangCode, "es-ES"))
        return TLangTable::EsES;
    if (SameTextAscii(ALangCode, "fr-FR"))
        return TLangTable::FrFR;
    return TLangTable::PtBR;
}

std::span<const TLangText> TextsOf(TLangTable ATable)
{
    switch (ATable) {
    case TLangTable::EnUS: return LangTextsEnUS;
    case TLangTable::EsES: return LangTextsEsES;
    case TLangTable::FrFR: return LangTextsFrFR;
    case TLangTable::PtBR: break;
    }
    return LangTextsPtBR;
}

std::optional<std::string_view> Find(std::span<const TLangText> ATexts, std::string_view AKey)
{
    for (const TLangText& t : ATexts)
        if (t.Key == AKey)
            return t.Text;
    return std::nullopt;
}

} // namespace

const std::span<const TLanguage> Languages{kLanguages};
const std::span<const TLangText> LangTextsPtBR{kPtBR};
const std::span<const TLangText> LangTextsEnUS{kEnUS};
const std::span<const TLangText> LangTextsEsES{kEsES};
const std::span<const TLangText> LangTextsFrFR{kFrFR};

std::string Translate(const std::string& ALangCode, const std::string& AKey)
{
    // Spanish and French fall back to English, English to Portuguese,
    // Portuguese to the key itself.
    TLangTable table = TableOf(ALangCode);
    for (;;) {
        if (auto text = Find(TextsOf(table), AKey))
            return std::string(*text);
        switch (table) {
        case TLangTable::EsES:
        case TLangTable::FrFR: table = TLangTable::EnUS; break;
        case TLangTable::EnUS: table = TLangTable::PtBR; break;
        case TLangTable::PtBR: return AKey;
        }
    }
}

std::string LanguageNameToCode(const std::string& AName)
{
    for (const TLanguage& l : kLanguages)
        if (SameTextAscii(AName, std::string(l.Name)))
            return std::string(l.Code);
    return std::string(kLanguages[0].Code);
}

std::string LanguageCodeToName(const std::string& ACode)
{
    for (const TLanguage& l : kLanguages)
        if (SameTextAscii(ACode, std::string(l.Code)))
            return std::string(l.Name);
    return std::string(kLanguages[0].Name);
}
